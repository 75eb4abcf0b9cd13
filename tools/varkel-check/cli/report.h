// The texts that say a check's outcome: the verdict line, its details, the
// JSON document, and the words in the wire log's form.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tools/varkel-check/judge/pipeline.h"

namespace varkel_check {

// The verdict line, the details that follow it, and the JSON document.
std::string VerdictLine(const Report& report);
std::string Details(const Outcome& outcome, const CheckRequest& request);
std::string Json(const Outcome& outcome, const CheckRequest& request, const char* version);

// A word as varkel-sim's wire log writes a frame: "<seconds> 0x<value>\n".
std::string FrameLine(std::uint64_t startNs, std::uint32_t value, unsigned bits);

}  // namespace varkel_check
