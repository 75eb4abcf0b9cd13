// Text log of the transmit line: one frame a line, in order,
// "<seconds>.<nanoseconds> 0x<value>", the value as wide as the frame.
#pragma once

#include <cstddef>

#include "sim/board.h"
#include "sim/output_file.h"

namespace sim {

class WireLog : public BoardListener {
  public:
    explicit WireLog(OutputFile& out) : out_(out) {}
    void OnFrame(const Frame& frame) override;
    void OnIdle() override { out_.Flush(); }

    // Writes one line, newline included, into `line`; returns its length.
    static std::size_t FormatFrame(const Frame& frame, char (&line)[64]);

  private:
    OutputFile& out_;
};

}  // namespace sim
