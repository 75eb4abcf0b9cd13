// One check, from level changes to a report: the word decoder feeding the
// checker, as one sink. A file's reader and a live acquisition both drive
// it, so both reach the same verdict for the same levels.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tools/varkel-check/capture/capture.h"
#include "tools/varkel-check/decode/evidence.h"
#include "tools/varkel-check/decode/words.h"
#include "tools/varkel-check/judge/checker.h"

namespace varkel_check {

class CheckPipeline : public CaptureSink {
  public:
    // Sees every complete word read, with its start in nanoseconds.
    using OnWord = std::function<void(const Word&, std::uint64_t startNs)>;

    CheckPipeline(const Expectation& expect, OnWord onWord = {}, Checker::OnWrongMessage onWrongMessage = {});
    // Makes the checker, in the capture's time unit.
    void Begin(const CaptureInfo& info) override;
    void Change(std::uint64_t tick, Line line, char level) override {
        evidence_.Change(tick, line, level);
        decoder_.Change(tick, line, level);
    }
    void End(std::uint64_t tick) override {
        evidence_.End(tick);
        decoder_.End(tick);
    }
    // Once the levels have ended.
    Report Finish();
    // Complete words read, and messages checked, so far.
    std::uint64_t words() const { return words_; }
    unsigned messages() const { return checker_ ? checker_->messagesSoFar() : 0; }

  private:
    void Take(const Word& word);

    const Expectation expect_;
    OnWord onWord_;
    Checker::OnWrongMessage onWrongMessage_;
    double secondsPerTick_ = 0;
    std::unique_ptr<Checker> checker_;  // from Begin on
    EvidenceCollector evidence_;        // told each level before the decoder, and each word after
    WordDecoder decoder_;
    std::uint64_t words_ = 0;
};

struct CheckRequest {
    std::string path;  // the capture, as the user named it
    LineNames names;
    Expectation expect;
};

struct Outcome {
    CaptureInfo info;
    Report report;
};

// Reads the capture open on `fd` and holds it against `request.expect`.
// False, with one line, when the capture cannot be read whole: then there
// is no report.
bool CheckCapture(int fd, const CheckRequest& request, const CheckPipeline::OnWord& onWord,
                  const Progress& progress, Outcome& outcome, std::string& error);

}  // namespace varkel_check
