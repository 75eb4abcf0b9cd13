#include "tools/varkel-check/judge/pipeline.h"

#include <cmath>

namespace varkel_check {

CheckPipeline::CheckPipeline(const Expectation& expect, OnWord onWord, Checker::OnWrongMessage onWrongMessage)
    : expect_(expect),
      onWord_(std::move(onWord)),
      onWrongMessage_(std::move(onWrongMessage)),
      evidence_(DecoderSettings{expect.bits, expect.selectActiveHigh}),
      decoder_(DecoderSettings{expect.bits, expect.selectActiveHigh}, [this](const Word& w) { Take(w); }) {}

void CheckPipeline::Begin(const CaptureInfo& info) {
    secondsPerTick_ = info.secondsPerTick;
    checker_ = std::make_unique<Checker>(expect_, secondsPerTick_, onWrongMessage_);
}

void CheckPipeline::Take(const Word& word) {
    evidence_.Take(word);
    if (!checker_) {  // a sink told of levels before it was told the capture began
        Begin(CaptureInfo{});
    }
    checker_->Add(word);
    if (!word.complete) {
        return;
    }
    ++words_;
    if (onWord_) {
        const double ns = static_cast<double>(word.startTick) * secondsPerTick_ * 1e9;
        onWord_(word, ns < 1.8e19 ? static_cast<std::uint64_t>(std::llround(ns)) : ~std::uint64_t{0});
    }
}

Report CheckPipeline::Finish() {
    if (!checker_) {
        Begin(CaptureInfo{});
    }
    return checker_->Finish(decoder_.framing(), evidence_.evidence());
}

bool CheckCapture(int fd, const CheckRequest& request, const CheckPipeline::OnWord& onWord,
                  const Progress& progress, Outcome& outcome, std::string& error) {
    CheckPipeline pipeline(request.expect, onWord);
    if (!ReadCapture(fd, request.path, request.names, pipeline, outcome.info, progress, error)) {
        return false;
    }
    outcome.report = pipeline.Finish();
    return true;
}

}  // namespace varkel_check
