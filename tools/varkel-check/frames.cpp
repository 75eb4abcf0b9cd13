#include "tools/varkel-check/frames.h"

#include <algorithm>

namespace check {
namespace {

constexpr int kClock = static_cast<int>(Line::Sclk), kSelect = static_cast<int>(Line::Sfrm),
              kData = static_cast<int>(Line::Txd);

}  // namespace

double WireFrame::BitTicks() const {
    return rises < 2 ? 0 : static_cast<double>(lastRiseTick - firstRiseTick) / (rises - 1);
}

std::uint32_t Reversed(std::uint32_t value, unsigned bits) {
    std::uint32_t out = 0;
    for (unsigned i = 0; i < bits; ++i) {
        out = (out << 1) | ((value >> i) & 1u);
    }
    return out;
}

void FrameDecoder::Change(std::uint64_t tick, Line line, char level) {
    if (holding_ && tick != tick_) {
        Settle();
    }
    holding_ = true;
    tick_ = tick;
    next_[static_cast<int>(line)] = level;
}

void FrameDecoder::End(std::uint64_t /*tick*/) {
    if (holding_) {
        Settle();
    }
    if (active_ && inWord_) {
        if (word_.rises >= settings_.bits) {
            EndWord(true);  // whole; only a falling edge after its last bit is beyond the capture
        } else if (word_.rises + word_.falls != 0) {
            ++activity_.partialAtEnd;
        }
    }
    if (first_) {
        Emit(*first_);
        first_.reset();
    }
}

void FrameDecoder::Settle() {
    holding_ = false;
    for (int i = 0; i < kLines; ++i) {  // a pin becoming driven is not activity; a toggle is
        activity_.changes[i] +=
            (level_[i] == '0' && next_[i] == '1') || (level_[i] == '1' && next_[i] == '0') ? 1 : 0;
    }
    const char activeLevel = settings_.selectActiveHigh ? '1' : '0';
    const bool nowActive = next_[kSelect] == activeLevel;
    const bool rising = level_[kClock] == '0' && next_[kClock] == '1';
    const bool falling = level_[kClock] == '1' && next_[kClock] == '0';
    activity_.clockRises += rising ? 1 : 0;

    // An edge on the sample where the select becomes active, or ends, is
    // inside its period: a sender's last edge and its select's end may fall
    // on one sample.
    if (!active_ && nowActive) {
        active_ = true;
        activity_.selectWentActive = true;
        periodCut_ = level_[kSelect] == '?';  // the capture began inside it
        activity_.selectPeriods += periodCut_ ? 0 : 1;
        periodWords_ = 0;
        periodRises_ = 0;
        burstRises_ = 0;
        burstCut_ = periodCut_;
        StartWord(true);
    }
    if (active_ && (rising || falling)) {
        // The level at the edge's own sample, as an analyser's decoder reads it.
        const std::uint32_t bit = next_[kData] == '1' ? 1 : 0;
        if (rising && (level_[kData] == '0' || level_[kData] == '1') && level_[kData] != next_[kData]) {
            ++activity_.bitsChangedOnEdgeSample;
        }
        // Changes since the last edge count once this edge shows the clock
        // did not pause between: in a pause the sender is between words.
        const std::uint64_t half = tick_ - lastEdge_;
        if (inWord_ && half <= 2 * lastHalf_) {
            word_.dataChangesWhileHigh += pendingHigh_;
            word_.dataChangesWhileLow += pendingLow_;
        }
        pendingHigh_ = pendingLow_ = 0;
        lastHalf_ = half;
        lastEdge_ = tick_;
        if (rising) {
            Rise();
        }
        Edge(rising, bit);
    }
    // Changes before a word's first edge, or between words, are the
    // sender at rest and say nothing of its phase.
    if (active_ && inWord_ && level_[kData] != next_[kData] && tick_ != word_.startTick) {
        if (rising || falling) {
            (rising ? word_.dataChangesOnRise : word_.dataChangesOnFall)++;
        } else if (word_.rises + word_.falls != 0) {
            (level_[kClock] == '1' ? pendingHigh_ : pendingLow_)++;
        }
    }
    if (active_ && !nowActive) {
        EndPeriod();
    }
    std::copy(std::begin(next_), std::end(next_), std::begin(level_));
}

void FrameDecoder::StartWord(bool firstInPeriod) {
    word_ = WireFrame{};
    word_.startTick = tick_;
    // As the clock was before this sample; at the capture's first, as it is.
    word_.clockIdleHigh = (level_[kClock] == '?' ? next_[kClock] : level_[kClock]) == '1';
    word_.firstInPeriod = firstInPeriod;
    word_.periodCutAtStart = periodCut_;
    pendingHigh_ = pendingLow_ = 0;
    inWord_ = true;
}

void FrameDecoder::Edge(bool rising, std::uint32_t bit) {
    if (!inWord_) {
        StartWord(false);
    } else if (rising && word_.rises >= settings_.bits) {
        EndWord(true);  // its last falling edge never came: the next word has begun
        StartWord(false);
    }
    if (rising) {
        word_.risingValue = (word_.risingValue << 1) | bit;
        word_.firstRiseTick = word_.rises++ == 0 ? tick_ : word_.firstRiseTick;
        word_.lastRiseTick = tick_;
    } else {
        word_.fallingValue = (word_.fallingValue << 1) | bit;
        ++word_.falls;
    }
    // Whole once both edges have taken their bits: in every clock mode the
    // word's last edge is then behind it.
    if (word_.rises >= settings_.bits && word_.falls >= settings_.bits) {
        EndWord(true);
    }
}

void FrameDecoder::EndWord(bool complete) {
    inWord_ = false;
    word_.complete = complete;
    word_.endTick = tick_;
    ++periodWords_;
    if (!complete && periodCut_ && word_.firstInPeriod) {
        ++activity_.partialAtStart;  // cut by the capture's start, not by its select
        return;
    }
    activity_.partialWords += complete ? 0 : 1;
    if (word_.firstInPeriod && complete) {
        first_ = word_;  // alone or not, the next word or the period's end says
        return;
    }
    if (first_) {
        first_->sharesPeriod = true;
        Emit(*first_);
        first_.reset();
    }
    word_.sharesPeriod = !word_.firstInPeriod;
    Emit(word_);
}

void FrameDecoder::EndPeriod() {
    if (inWord_ && word_.rises + word_.falls != 0) {
        EndWord(word_.rises >= settings_.bits);
    }
    if (first_) {
        Emit(*first_);
        first_.reset();
    }
    if (!periodCut_) {
        ++activity_.periodsByRises[std::min<std::uint64_t>(periodRises_, LineActivity::kTrackedRises)];
    }
    EndBurst();
    active_ = false;
    inWord_ = false;
}

void FrameDecoder::Rise() {
    ++activity_.risesWhileActive;
    ++periodRises_;
    if (burstRises_ != 0) {
        const std::uint64_t gap = tick_ - lastRise_;
        if (burstRises_ >= 2 && gap > 2 * shortestGap_) {
            EndBurst();
        } else {
            shortestGap_ = burstRises_ == 1 ? gap : std::min(shortestGap_, gap);
        }
    }
    ++burstRises_;
    lastRise_ = tick_;
}

void FrameDecoder::EndBurst() {
    if (burstRises_ != 0 && !burstCut_) {
        ++activity_.burstsByRises[std::min<std::uint64_t>(burstRises_, LineActivity::kTrackedRises)];
    }
    burstRises_ = 0;
    burstCut_ = false;
}

void FrameDecoder::Emit(const WireFrame& word) {
    if (word.complete) {
        (word.sharesPeriod ? activity_.wordsShared : activity_.wordsAlone)++;
    }
    onWord_(word);
}

}  // namespace check
