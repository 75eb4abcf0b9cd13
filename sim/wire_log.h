// Text log of the transmit line: one line for each frame that reached the
// transmit pin, in order, "<seconds>.<nanoseconds> 0x<value>", the time
// being the frame's start and the value as wide as the frame.
#pragma once

#include <cstddef>

#include "common/text_sink.h"
#include "sim/board.h"

namespace sim {

class WireLog : public BoardListener {
  public:
    explicit WireLog(common::TextSink& out) : out_(out) {}
    void OnFrameEnd(const Frame& frame, std::uint64_t endNs, FrameFate fate) override;
    void OnIdle() override { out_.Flush(); }

    // Writes one line, newline included, into `line`; returns its length.
    static std::size_t FormatFrame(const Frame& frame, char (&line)[64]);

  private:
    common::TextSink& out_;
};

}  // namespace sim
