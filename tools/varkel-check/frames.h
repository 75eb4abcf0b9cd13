// Frames read off the port's three pins: a frame is the time the frame
// line is low; the data line is sampled at each clock edge.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "tools/varkel-check/capture.h"

namespace check {

struct WireFrame {
    std::uint64_t startTick = 0;  // frame line falls
    std::uint64_t endTick = 0;    // frame line rises
    // The data line just before each rising and each falling clock edge,
    // first edge in the highest bit.
    std::uint32_t risingValue = 0;
    std::uint32_t fallingValue = 0;
    unsigned rises = 0;
    unsigned falls = 0;
    std::uint64_t firstRiseTick = 0;
    std::uint64_t lastRiseTick = 0;
    bool clockIdleHigh = false;  // the clock's level as the frame began
    // Data changes nearest a rising or a falling clock edge: where the
    // sender changes its data tells its clock phase.
    unsigned dataChangesAtRise = 0;
    unsigned dataChangesAtFall = 0;

    // Ticks per bit, from the first to the last rising edge; 0 with fewer
    // than two.
    double BitTicks() const;
};

// Bits in reverse order.
std::uint32_t Reversed(std::uint32_t value, unsigned bits);

class FrameDecoder : public CaptureSink {
  public:
    explicit FrameDecoder(std::function<void(const WireFrame&)> onFrame) : onFrame_(std::move(onFrame)) {}
    void Change(std::uint64_t tick, Line line, char level) override;
    void End(std::uint64_t tick) override;

    std::uint64_t changes[kLines] = {};  // toggles between 0 and 1 of each line
    bool frameLineWentLow = false;
    unsigned partialAtStart = 0;  // frames the capture began inside of
    unsigned partialAtEnd = 0;    // and ended inside of

  private:
    void Settle();  // applies the changes of the tick held

    std::function<void(const WireFrame&)> onFrame_;
    char level_[kLines] = {'?', '?', '?'};
    char next_[kLines] = {'?', '?', '?'};
    std::uint64_t tick_ = 0;
    bool holding_ = false;
    bool inFrame_ = false;
    bool inPartial_ = false;
    WireFrame frame_;
    std::vector<std::uint64_t> edges_[2];  // this frame's falling and rising clock edges
    std::vector<std::uint64_t> dataChanges_;
};

}  // namespace check
