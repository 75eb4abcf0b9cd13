// Judgements about the program, made from the board's traffic and the
// program's platform calls: the board only describes itself, and these
// listeners say what the program did.
#pragma once

#include <cstdint>

#include "sim/board.h"

namespace varkel_sim {

// Sends that gave up: status reads that show the transmit FIFO full again
// and again (a wait for room), followed by anything but another status
// read or a store of data. One such read alone is no wait: a look at the
// receive side sees the transmit bits too.
class GiveUpWatch : public sim::BoardListener {
  public:
    void OnAccess(const sim::Access& access) override;
    void OnFinish(std::uint64_t /*ns*/) override { Other(); }
    // The program called its platform: a wait, if one was going on, ended.
    void OnProgramCall() { Other(); }

    std::uint64_t sendsGaveUp() const { return sendsGaveUp_; }

  private:
    void Other();  // anything but a status read; it ends a wait

    std::uint64_t fullStatusReads_ = 0;  // in a row, counted up to 2
    std::uint64_t sendsGaveUp_ = 0;
};

}  // namespace varkel_sim
