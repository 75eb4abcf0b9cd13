// One check, from a capture's bytes to its report and the texts that say
// it: what varkel-check runs, and what its fuzz targets drive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
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

// From level changes to a report: the word decoder feeding the checker,
// as one sink. A file's reader and a live acquisition both drive it, so
// both reach the same verdict for the same levels. `info` gives the time
// unit, and must be set before the first level arrives.
class CheckPipeline : public CaptureSink {
  public:
    CheckPipeline(const Expectation& expect, const CaptureInfo& info,
                  std::function<void(const WireFrame&, std::uint64_t)> onFrame = {});
    void Change(std::uint64_t tick, Line line, char level) override { decoder_.Change(tick, line, level); }
    void End(std::uint64_t tick) override { decoder_.End(tick); }
    // Once the levels have ended.
    Report Finish();
    // Sees each wrong message as it is judged: its first and last tick.
    std::function<void(std::uint64_t, std::uint64_t)> onWrongMessage;
    // Complete words read, and messages checked, so far.
    std::uint64_t words() const { return words_; }
    unsigned messages() const { return checker_ ? checker_->messagesSoFar() : 0; }

  private:
    const Expectation expect_;
    const CaptureInfo& info_;
    std::function<void(const WireFrame&, std::uint64_t)> onFrame_;
    std::unique_ptr<Checker> checker_;  // made at the first word: the time unit is known by then
    FrameDecoder decoder_;
    std::uint64_t words_ = 0;
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
