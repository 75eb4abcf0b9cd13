// A small sigrok session file, as PulseView and sigrok-cli open one: the
// three lines as packed 1-byte samples (sclk bit 0, sfrm bit 1, txd bit 2),
// in a zip archive of stored entries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/varkel-check/capture/capture.h"

namespace varkel_check {

std::string SessionFile(std::uint64_t sampleRate, std::string_view samples, const LineNames& names);

// A zip archive of the entries (name, data), stored uncompressed.
std::string StoredZip(const std::vector<std::pair<std::string, std::string_view>>& entries);

}  // namespace varkel_check
