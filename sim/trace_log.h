// One line per register access: time, R or W, block, register, offset,
// value. Consecutive identical reads of one register fold into one line
// ending in "x<count>", since a stuck transmitter polls 262,144 times a byte.
#pragma once

#include <cstdint>

#include "sim/board.h"
#include "sim/output_file.h"

namespace sim {

class TraceLog : public BoardListener {
  public:
    explicit TraceLog(OutputFile& out) : out_(out) {}
    void OnAccess(const Access& access) override;
    void OnIdle() override { out_.Flush(); }
    void OnFinish(std::uint64_t ns) override;

  private:
    void WritePending();

    OutputFile& out_;
    Access pending_{};
    std::uint64_t repeats_ = 0;  // 0: nothing pending
};

}  // namespace sim
