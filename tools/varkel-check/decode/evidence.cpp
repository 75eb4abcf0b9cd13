#include "tools/varkel-check/decode/evidence.h"

#include <algorithm>

namespace varkel_check {
namespace {

constexpr int kClock = static_cast<int>(Line::Sclk), kSelect = static_cast<int>(Line::Sfrm),
              kData = static_cast<int>(Line::Txd);

// Two samples apart: a whole sample lies between, so which came first, and
// what held between, the capture can tell.
constexpr std::uint64_t kClear = 2;

}  // namespace

void EvidenceCollector::End(std::uint64_t /*tick*/) {
    TakeHeld();
}

void EvidenceCollector::Settle() {
    for (int i = 0; i < kLines; ++i) {  // a pin becoming driven is not activity; a toggle is
        evidence_.changes[i] +=
            (level_[i] == '0' && next_[i] == '1') || (level_[i] == '1' && next_[i] == '0') ? 1 : 0;
    }
    const char activeLevel = settings_.selectActiveHigh ? '1' : '0';
    const bool nowActive = next_[kSelect] == activeLevel;
    const bool rising = level_[kClock] == '0' && next_[kClock] == '1';
    const bool falling = level_[kClock] == '1' && next_[kClock] == '0';
    const bool edge = rising || falling;
    const bool opening = !active_ && nowActive;
    evidence_.clockRises += rising ? 1 : 0;

    if (opening) {
        active_ = true;
        evidence_.selectWentActive = true;
        periodCut_ = level_[kSelect] == '?';  // the capture began inside it
        periodRises_ = 0;
        burstRises_ = 0;
        burstCut_ = periodCut_;
        openTick_ = tick_;
        edgeInPeriod_ = false;
        burstHalves_ = longestHalf_ = 0;
        pending_.clear();
    }
    if (active_ && !nowActive) {
        // The clock's level held to the end of the period is a rest, unless
        // an edge on the select's last sample, or a word the period ends
        // inside, says the clock was still running.
        const std::uint64_t heldSince = edgeInPeriod_ ? lastEdge_ : openTick_;
        if (!edge && tick_ - heldSince >= kClear && !(periodCut_ && !edgeInPeriod_) &&
            periodRises_ % settings_.bits == 0) {
            Rest(level_[kClock]);
        }
        if (falling && edgeInPeriod_) {
            ClockEdge(false);  // a word's last falling edge, as the select ends
        }
        EndPeriod(rising);
    } else if (active_ && edge && !(opening && falling)) {
        const std::uint64_t gap = tick_ - (edgeInPeriod_ ? lastEdge_ : openTick_);
        const bool pause = edgeInPeriod_ && burstHalves_ != 0 && gap > 2 * longestHalf_;
        // The clock held its level since the select opened, or through a
        // pause: where it rests. (As the select opens, the level is the one
        // after any edge on that sample.)
        if ((!periodCut_ || edgeInPeriod_) && (!edgeInPeriod_ || pause) && gap >= kClear) {
            Rest(level_[kClock]);
        }
        ClockEdge(pause || !edgeInPeriod_);
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
    }
    if (edge) {
        lastEdge_ = tick_;
    }
    // A data change inside the period, after its clock has begun: on or a
    // sample from the last edge it shows nothing; otherwise the next edge
    // decides.
    if (active_ && edgeInPeriod_ && level_[kData] != next_[kData]) {
        if (tick_ - lastEdge_ < kClear) {
            Keep(tick_, Seen::NearEdge);
        } else if (pending_.size() < kKeptChanges) {
            pending_.push_back({tick_, level_[kClock] == '1' ? Seen::High : Seen::Low});
        } else {
            overflowed_ = true;
        }
    }
}

// At a clock edge, the data changes since the one before: one under a
// sample before this edge is too close to tell; across a pause in the
// clock they are the sender between words, and show nothing.
void EvidenceCollector::ClockEdge(bool pause) {
    for (const DataChange& change : pending_) {
        if (tick_ - change.tick < kClear) {
            Keep(change.tick, Seen::NearEdge);
        } else if (!pause) {
            Keep(change.tick, change.seen);
        }
    }
    pending_.clear();
}

void EvidenceCollector::Keep(std::uint64_t tick, Seen seen) {
    if (decided_.size() < kKeptChanges) {
        decided_.push_back({tick, seen});
    } else {
        overflowed_ = true;
    }
}

void EvidenceCollector::Take(const Word& word) {
    // The changes inside the word: after its first edge (on it too, for a
    // word begun as its select opened), up to its last.
    unsigned high = 0, low = 0, near = 0;
    const bool startedBefore = word.startTick != word.firstEdgeTick;
    while (!decided_.empty() && decided_.front().tick <= word.endTick) {
        const DataChange& change = decided_.front();
        if (change.tick > word.firstEdgeTick || (change.tick == word.firstEdgeTick && startedBefore)) {
            (change.seen == Seen::High ? high : change.seen == Seen::Low ? low : near)++;
        }
        decided_.pop_front();
    }
    if (!word.complete) {
        return;
    }
    if (overflowed_) {
        overflowed_ = false;
        ++evidence_.wordsUnclear;
    } else if (high + low != 0 && word.BitTicks() >= static_cast<double>(kMinPhaseSamples)) {
        ++evidence_.wordsWithPhase;
        evidence_.changesWhileHigh += high > low ? 1 : 0;
    } else if (high + low + near != 0) {
        ++evidence_.wordsUnclear;
    }
}

void EvidenceCollector::Rest(char level) {
    if (level == '0' || level == '1') {
        ++evidence_.rests;
        evidence_.restsHigh += level == '1' ? 1 : 0;
    }
}

void EvidenceCollector::EndPeriod(bool closedOnRise) {
    if (!periodCut_ && !closedOnRise) {
        ++evidence_.periodsByRises[std::min<std::uint64_t>(periodRises_, Evidence::kTrackedRises)];
    }
    burstCut_ = burstCut_ || closedOnRise;
    EndBurst();
    active_ = false;
    edgeInPeriod_ = false;
    pending_.clear();
}

void EvidenceCollector::Rise() {
    ++evidence_.risesWhileActive;
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

void EvidenceCollector::EndBurst() {
    if (burstRises_ != 0 && !burstCut_) {
        ++evidence_.burstsByRises[std::min<std::uint64_t>(burstRises_, Evidence::kTrackedRises)];
    }
    burstRises_ = 0;
    burstCut_ = false;
}

}  // namespace varkel_check
