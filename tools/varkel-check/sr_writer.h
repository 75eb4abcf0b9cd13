// A small sigrok session file, as PulseView and sigrok-cli open one: the
// three lines as packed 1-byte samples (sclk bit 0, sfrm bit 1, txd bit 2),
// in a zip archive of stored entries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/varkel-check/capture.h"

namespace check {

std::string SessionFile(std::uint64_t sampleRate, std::string_view samples, const LineNames& names);

}  // namespace check
