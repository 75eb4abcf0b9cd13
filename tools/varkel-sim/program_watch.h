// Judgements about the program, made from the board's traffic and the
// program's platform calls: the board only describes itself, and these
// listeners say what the program did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// The program's reservations, bindings and releases, said the same way for
// the program built in and for a board binary: sizes and physical
// addresses as asked, reservations by the order they were made (their
// addresses are the process's own), so that a window of the wrong size, or
// given back twice or never, shows.
class PlatformWitness {
  public:
    std::string Reserved(std::uint64_t bytes, std::uint64_t base);  // base 0: refused
    std::string Bound(std::uint64_t address, std::uint64_t physical, std::uint64_t bytes, bool ok);
    std::string Released(std::uint64_t address, bool ok);

  private:
    struct Reservation {
        std::uint64_t base, bytes;
        unsigned number;
    };
    std::string Which(std::uint64_t address) const;

    std::vector<Reservation> held_;
    unsigned made_ = 0;
};

}  // namespace varkel_sim
