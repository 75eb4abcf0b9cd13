// One check, from a capture's bytes to its report and the texts that say
// it: what varkel-check runs, and what its fuzz targets drive.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/varkel-check/capture.h"
#include "tools/varkel-check/check.h"
#include "tools/varkel-check/frames.h"

namespace check {

struct CheckRequest {
    std::string path;  // the capture, as the user named it
    LineNames names;
    Expectation expect;
};

struct Outcome {
    CaptureInfo info;
    Report report;
};

// Reads the capture open on `fd` and holds it against `request.expect`;
// `onFrame` sees every complete word read, with its start in nanoseconds.
// False, with one line, when the capture cannot be read whole: then there
// is no report.
bool CheckCapture(int fd, const CheckRequest& request,
                  const std::function<void(const WireFrame&, std::uint64_t)>& onFrame,
                  const Progress& progress, Outcome& outcome, std::string& error);

// The verdict line, the details that follow it, and the JSON document.
std::string VerdictLine(const Report& report);
std::string Details(const Outcome& outcome, const CheckRequest& request);
std::string Json(const Outcome& outcome, const CheckRequest& request, const char* version);

// A word as varkel-sim's wire log writes a frame: "<seconds> 0x<value>\n".
std::string FrameLine(std::uint64_t startNs, std::uint32_t value, unsigned bits);

}  // namespace check
