#include "tools/varkel-check/frames.h"

#include <algorithm>

namespace check {
namespace {

constexpr std::size_t kMaxEdges = 64;  // a frame's bits fit in 32; more is noise

// How far `tick` is from the nearest of `edges` (sorted).
std::uint64_t Distance(const std::vector<std::uint64_t>& edges, std::uint64_t tick) {
    std::uint64_t best = ~std::uint64_t{0};
    for (const std::uint64_t edge : edges) {
        best = std::min(best, edge > tick ? edge - tick : tick - edge);
    }
    return best;
}

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

void FrameDecoder::End(std::uint64_t tick) {
    if (holding_) {
        Settle();
    }
    (void)tick;  // a frame still open when the capture ends is cut by it
    if (inFrame_ || inPartial_) {
        ++partialAtEnd;
    }
}

void FrameDecoder::Settle() {
    holding_ = false;
    constexpr int kClock = static_cast<int>(Line::Sclk), kFrame = static_cast<int>(Line::Sfrm),
                  kData = static_cast<int>(Line::Txd);
    for (int i = 0; i < kLines; ++i) {  // a pin becoming driven is not activity; a toggle is
        changes[i] += (level_[i] == '0' && next_[i] == '1') || (level_[i] == '1' && next_[i] == '0') ? 1 : 0;
    }
    const bool rising = level_[kClock] == '0' && next_[kClock] == '1';
    const bool falling = level_[kClock] == '1' && next_[kClock] == '0';
    if (inFrame_ && (rising || falling)) {
        const std::uint32_t bit = level_[kData] == '1' ? 1 : 0;  // the data held up to the edge
        if (rising) {
            frame_.risingValue = (frame_.risingValue << 1) | bit;
            frame_.firstRiseTick = frame_.rises++ == 0 ? tick_ : frame_.firstRiseTick;
            frame_.lastRiseTick = tick_;
        } else {
            frame_.fallingValue = (frame_.fallingValue << 1) | bit;
            ++frame_.falls;
        }
        if (edges_[rising].size() < kMaxEdges) {
            edges_[rising].push_back(tick_);
        }
    }
    if (inFrame_ && level_[kData] != next_[kData] && tick_ != frame_.startTick &&
        dataChanges_.size() < kMaxEdges) {
        dataChanges_.push_back(tick_);
    }
    if (level_[kFrame] == '?' && next_[kFrame] == '0') {
        inPartial_ = true;  // the capture began inside a frame
        frameLineWentLow = true;
    }
    if (level_[kFrame] == '0' && next_[kFrame] == '1') {
        if (inFrame_) {
            frame_.endTick = tick_;
            for (const std::uint64_t change : dataChanges_) {
                (Distance(edges_[1], change) <= Distance(edges_[0], change) ? frame_.dataChangesAtRise
                                                                            : frame_.dataChangesAtFall)++;
            }
            onFrame_(frame_);
        } else if (inPartial_) {
            ++partialAtStart;
        }
        inFrame_ = inPartial_ = false;
    } else if (level_[kFrame] == '1' && next_[kFrame] == '0') {
        frameLineWentLow = true;
        inFrame_ = true;
        frame_ = WireFrame{};
        frame_.startTick = tick_;
        frame_.clockIdleHigh = level_[kClock] == '1';  // as it was while the frame line was high
        edges_[0].clear();
        edges_[1].clear();
        dataChanges_.clear();
    }
    std::copy(std::begin(next_), std::end(next_), std::begin(level_));
}

}  // namespace check
