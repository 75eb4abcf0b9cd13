#include "tools/varkel-check/decode/words.h"

#include <algorithm>

namespace varkel_check {
namespace {

constexpr int kClock = static_cast<int>(Line::Sclk), kSelect = static_cast<int>(Line::Sfrm),
              kData = static_cast<int>(Line::Txd);

}  // namespace

double Word::BitTicks() const {
    return rises < 2 ? 0 : static_cast<double>(lastRiseTick - firstRiseTick) / (rises - 1);
}

std::uint32_t Reversed(std::uint32_t value, unsigned bits) {
    std::uint32_t out = 0;
    for (unsigned i = 0; i < bits; ++i) {
        out = (out << 1) | ((value >> i) & 1u);
    }
    return out;
}

void Sampled::Change(std::uint64_t tick, Line line, char level) {
    if (tick != tick_) {
        TakeHeld();
    }
    holding_ = true;
    tick_ = tick;
    next_[static_cast<int>(line)] = level;
}

void Sampled::TakeHeld() {
    if (holding_) {
        holding_ = false;
        Settle();
        std::copy(std::begin(next_), std::end(next_), std::begin(level_));
    }
}

void WordDecoder::End(std::uint64_t /*tick*/) {
    TakeHeld();
    if (active_ && inWord_) {
        if (word_.rises >= settings_.bits) {
            EndWord(true);  // whole; only a falling edge after its last bit is beyond the capture
        } else if (word_.rises + word_.falls != 0) {
            ++framing_.partialAtEnd;
        }
    }
    if (first_) {
        Emit(*first_);
        first_.reset();
    }
}

void WordDecoder::Settle() {
    const char activeLevel = settings_.selectActiveHigh ? '1' : '0';
    const bool nowActive = next_[kSelect] == activeLevel;
    const bool rising = level_[kClock] == '0' && next_[kClock] == '1';
    const bool falling = level_[kClock] == '1' && next_[kClock] == '0';
    const bool opening = !active_ && nowActive;
    const std::uint32_t bit = next_[kData] == '1' ? 1 : 0;  // at the edge's own sample, as sigrok reads it

    if (opening) {
        active_ = true;
        periodCut_ = level_[kSelect] == '?';  // the capture began inside it
        // A rising edge on this sample is the first bit, as sigrok reads it;
        // a falling one belongs to no word: the clock may have fallen first.
        framing_.selectOpenedOnEdge += rising ? 1 : 0;
        StartWord(true);
    }
    if (active_ && !nowActive) {
        // Which came first, the select's end or an edge on its sample, the
        // capture cannot tell: a rising edge there is not read, as sigrok
        // reads it. A word's last falling edge there still completes its
        // falling reading: a port ends its select with its last edge, and
        // no word is read from falling edges alone.
        framing_.selectClosedOnEdge += rising ? 1 : 0;
        if (falling && inWord_ && word_.rises != 0) {
            Edge(false, bit);
        }
        EndPeriod(rising);
    } else if (active_ && (rising || (falling && !opening))) {
        if (rising && (level_[kData] == '0' || level_[kData] == '1') && level_[kData] != next_[kData]) {
            ++framing_.bitsChangedOnEdgeSample;
        }
        Edge(rising, bit);
    }
}

void WordDecoder::StartWord(bool firstInPeriod) {
    word_ = Word{};
    word_.startTick = tick_;
    word_.firstInPeriod = firstInPeriod;
    word_.periodCutAtStart = periodCut_;
    inWord_ = true;
}

void WordDecoder::Edge(bool rising, std::uint32_t bit) {
    if (!inWord_) {
        StartWord(false);
    } else if (rising && word_.rises >= settings_.bits) {
        EndWord(true);  // its last falling edge never came: the next word has begun
        StartWord(false);
    }
    if (word_.rises + word_.falls == 0) {
        word_.firstEdgeTick = tick_;
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

void WordDecoder::EndWord(bool complete) {
    inWord_ = false;
    word_.complete = complete;
    word_.endTick = tick_;
    if (!complete && periodCut_) {
        // Its period began before the capture: where its words began, the
        // capture cannot tell.
        ++framing_.partialAtStart;
        return;
    }
    framing_.partialWords += complete ? 0 : 1;
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

void WordDecoder::EndPeriod(bool closedOnRise) {
    if (inWord_ && word_.rises + word_.falls != 0) {
        if (word_.rises < settings_.bits && closedOnRise && !periodCut_) {
            ++framing_.wordsLostAtClose;  // its last edge may be the one not read
            inWord_ = false;
        } else {
            EndWord(word_.rises >= settings_.bits);
        }
    }
    if (first_) {
        Emit(*first_);
        first_.reset();
    }
    active_ = false;
    inWord_ = false;
}

void WordDecoder::Emit(const Word& word) {
    if (word.complete) {
        (word.sharesPeriod ? framing_.wordsShared : framing_.wordsAlone)++;
    }
    onWord_(word);
}

}  // namespace varkel_check
