#include "tools/varkel-check/decode/words.h"

#include <algorithm>

namespace check {
namespace {

constexpr int kClock = static_cast<int>(Line::Sclk), kSelect = static_cast<int>(Line::Sfrm),
              kData = static_cast<int>(Line::Txd);

// Two samples apart: a whole sample lies between, so which came first, and
// what held between, the capture can tell.
constexpr std::uint64_t kClear = 2;

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
    const bool edge = rising || falling;
    const bool opening = !active_ && nowActive;
    activity_.clockRises += rising ? 1 : 0;

    if (opening) {
        active_ = true;
        activity_.selectWentActive = true;
        periodCut_ = level_[kSelect] == '?';  // the capture began inside it
        activity_.selectPeriods += periodCut_ ? 0 : 1;
        // A rising edge on this sample is the first bit, as sigrok reads it;
        // a falling one belongs to no word: the clock may have fallen first.
        activity_.selectOpenedOnEdge += rising ? 1 : 0;
        periodWords_ = 0;
        periodRises_ = 0;
        burstRises_ = 0;
        burstCut_ = periodCut_;
        openTick_ = tick_;
        edgeInPeriod_ = false;
        burstHalves_ = longestHalf_ = 0;
        StartWord(true);
    }
    if (active_ && !nowActive) {
        // Which came first, the select's end or an edge on its sample, the
        // capture cannot tell: a rising edge there is not read, as sigrok
        // reads it, and the clock's level before it is no rest.
        const std::uint64_t heldSince = edgeInPeriod_ ? lastEdge_ : openTick_;
        if (!edge && tick_ - heldSince >= kClear && !(periodCut_ && !edgeInPeriod_) &&
            !(inWord_ && word_.rises != 0 && word_.rises < settings_.bits)) {
            Rest(level_[kClock]);  // held to the end of the period
        }
        activity_.selectClosedOnEdge += rising ? 1 : 0;
        // A word's last falling edge on the select's last sample still
        // completes its falling reading: a port ends its select with its
        // last edge, and no word is read from falling edges alone.
        if (falling && inWord_ && word_.rises != 0) {
            CreditChanges(tick_, false);
            Edge(false, next_[kData] == '1' ? 1 : 0);
        }
        EndPeriod(rising);
    } else if (active_ && edge && !(opening && falling)) {
        // The data's level at the edge's own sample, as an analyser's decoder reads it.
        const std::uint32_t bit = next_[kData] == '1' ? 1 : 0;
        if (rising && (level_[kData] == '0' || level_[kData] == '1') && level_[kData] != next_[kData]) {
            ++activity_.bitsChangedOnEdgeSample;
        }
        const std::uint64_t gap = tick_ - (edgeInPeriod_ ? lastEdge_ : openTick_);
        const bool pause = edgeInPeriod_ && burstHalves_ != 0 && gap > 2 * longestHalf_;
        if (!periodCut_ || edgeInPeriod_) {
            // The clock held its level since the select opened, or through a
            // pause: where it rests. (As the select opens, the level is the
            // one after any edge on that sample.)
            if ((!edgeInPeriod_ || pause) && gap >= kClear) {
                Rest(level_[kClock]);
            }
        }
        CreditChanges(tick_, pause || !edgeInPeriod_);
        if (pause) {
            burstHalves_ = longestHalf_ = 0;
        } else if (edgeInPeriod_) {
            ++burstHalves_;
            longestHalf_ = std::max(longestHalf_, gap);
        }
        edgeInPeriod_ = true;
        if (rising) {
            Rise();
        }
        Edge(rising, bit);
    }
    if (edge) {
        lastEdge_ = tick_;
    }
    if (active_ && inWord_ && level_[kData] != next_[kData] && tick_ != word_.startTick &&
        word_.rises + word_.falls != 0) {
        DataChange();
    }
    std::copy(std::begin(next_), std::end(next_), std::begin(level_));
}

// Changes before a word's first edge, or between words, are the sender at
// rest and say nothing of its phase; those here are inside a word.
void FrameDecoder::DataChange() {
    const bool onEdge = tick_ == lastEdge_;
    if (onEdge || tick_ - lastEdge_ < kClear) {
        ++word_.dataChangesNearEdge;
        return;
    }
    const bool high = level_[kClock] == '1';
    (high ? pendingHigh_ : pendingLow_)++;
    lastChange_ = tick_;
    lastChangeHigh_ = high;
    lastChangePending_ = true;
}

// At an edge, the changes since the one before: a change under a sample
// before this edge is too close to tell, and changes across a pause in the
// clock are the sender between words.
void FrameDecoder::CreditChanges(std::uint64_t edgeTick, bool pause) {
    if (lastChangePending_ && edgeTick - lastChange_ < kClear) {
        (lastChangeHigh_ ? pendingHigh_ : pendingLow_)--;
        ++word_.dataChangesNearEdge;
    }
    if (inWord_ && !pause) {
        word_.dataChangesWhileHigh += pendingHigh_;
        word_.dataChangesWhileLow += pendingLow_;
    }
    pendingHigh_ = pendingLow_ = 0;
    lastChangePending_ = false;
}

void FrameDecoder::Rest(char level) {
    if (level == '0' || level == '1') {
        ++activity_.rests;
        activity_.restsHigh += level == '1' ? 1 : 0;
    }
}

void FrameDecoder::StartWord(bool firstInPeriod) {
    word_ = WireFrame{};
    word_.startTick = tick_;
    word_.firstInPeriod = firstInPeriod;
    word_.periodCutAtStart = periodCut_;
    pendingHigh_ = pendingLow_ = 0;
    lastChangePending_ = false;
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
    if (!complete && periodCut_) {
        // Its period began before the capture: where its words began, the
        // capture cannot tell.
        ++activity_.partialAtStart;
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

void FrameDecoder::EndPeriod(bool closedOnEdge) {
    if (inWord_ && word_.rises + word_.falls != 0) {
        if (word_.rises < settings_.bits && closedOnEdge && !periodCut_) {
            ++activity_.wordsLostAtClose;  // its last edge may be the one not read
            inWord_ = false;
        } else {
            EndWord(word_.rises >= settings_.bits);
        }
    }
    if (first_) {
        Emit(*first_);
        first_.reset();
    }
    if (!periodCut_ && !closedOnEdge) {
        ++activity_.periodsByRises[std::min<std::uint64_t>(periodRises_, LineActivity::kTrackedRises)];
    }
    burstCut_ = burstCut_ || closedOnEdge;
    EndBurst();
    active_ = false;
    inWord_ = false;
    edgeInPeriod_ = false;
    pendingHigh_ = pendingLow_ = 0;
    lastChangePending_ = false;
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
