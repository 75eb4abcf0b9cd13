// The platform operations on a Linux host, over the simulated board.
//
// Reservations are real address ranges with no access, so a stray direct
// dereference faults instead of passing silently. A binding records which
// physical pages a range stands for; the simulated bus (sim_bus.cpp), or a
// fault handler that emulates the program's own loads and stores, sends
// register accesses through it to the board.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/faults.h"

namespace sim {
class Board;
}

namespace platform::host {

// Every fault a run is given, parsed once, in one plan: the board's own,
// which its models read, and the platform's, which this host applies:
// refuse the Nth reservation or binding, counted from 1 in request order;
// stall the board's transmit FIFO between the program's pauses N - 1 and
// N (its message N) for each N in txStuckMessages. A board binary run
// under the emulator has a kernel of its own, whose refusals come last.
struct FaultPlan {
    sim::Faults board = {};
    std::vector<std::uint32_t> refuseReserve = {};
    std::vector<std::uint32_t> refuseBind = {};
    std::vector<std::uint32_t> txStuckMessages = {};
    bool deviceMissing = false;           // the kernel has no /dev/mem
    bool deviceRefused = false;           // it refuses to open /dev/mem, as to a user who is not root
    bool mapsRefused = false;             // it refuses every /dev/mem mapping, as a strict kernel does
    std::vector<std::string> given = {};  // each fault as it was asked for

    // Whether `list` names request or message `n` (counted from 1).
    static bool Names(const std::vector<std::uint32_t>& list, std::uint32_t n);
    // Stalls scheduled by message; when there are none, the board's own
    // fault holds throughout.
    bool Scheduled() const { return !txStuckMessages.empty(); }
    // Whether the transmit FIFO stalls during message `message`.
    bool TxStuckIn(std::uint32_t message) const { return Names(txStuckMessages, message); }
};

enum class Call { Reserve, Bind, Release, Debug, Console, CopyBytes, Sleep };

// One platform call as the program made it, for tests and tools that check
// the order of things.
struct CallRecord {
    Call call;
    std::uint64_t args[4];
    std::int64_t result;
    std::string text;  // Debug and Console: the formatted text
};

struct Reserved {
    std::uintptr_t base;
    std::uint32_t size;
};

// Where the bus's translated accesses go: the attached board, or a
// test's script of the traffic it expects.
class BusTarget {
  public:
    virtual std::uint32_t Read(std::uint64_t physical) = 0;
    virtual void Write(std::uint64_t physical, std::uint32_t value) = 0;
    // Reads `physical` until (value & mask) != 0, at most `reads` times.
    virtual bool Poll(std::uint64_t physical, std::uint32_t mask, std::uint64_t reads) = 0;
    // `count` accesses at a program address no binding covers.
    virtual void Unbound(std::uint64_t address, bool write, std::uint64_t count) = 0;
    virtual ~BusTarget() = default;
};

// Board that the bus and SleepMs drive; null detaches.
void Attach(sim::Board* board);
// Sends the bus to `target` instead, with no board behind it (a test's
// script); null detaches.
void AttachBus(BusTarget* target);
sim::Board* AttachedBoard();
void SetFaults(const FaultPlan& faults);
// The program's platform calls are the host's to tell, not the board's:
// each observer added sees every call as it returns, in order.
void AddCallObserver(std::function<void(const CallRecord&)> observer);
// Thrown by a platform operation, at its start, before it holds anything,
// or from a sleep cut short, when the run is stopping (common/stop.h): a
// signal asked, or a register access could not be performed. It unwinds
// the program's frames, destroying whatever they hold, to whoever runs the
// program: the one place that catches it. The program's own code neither
// throws nor catches.
struct RunStopped {};

// Ranges still reserved, in reservation order.
std::vector<Reserved> Reservations();

// The bus: the program's register accesses at its own addresses, each
// translated through the bindings to a physical address on the attached
// board (or bus target). An address no binding covers, or not word-aligned,
// goes to it as an access outside any window, which it counts; such a read
// is 0. With nothing attached, nothing is reached and reads are 0.
std::uint32_t BusRead(std::uintptr_t address);
void BusWrite(std::uintptr_t address, std::uint32_t value);
// Reads `address` until (value & mask) != 0, at most `reads` times.
bool BusPoll(std::uintptr_t address, std::uint32_t mask, std::uint64_t reads);
// The program's pauses (SleepMs calls), reservations and bindings asked
// for so far.
std::uint32_t Pauses();
std::uint32_t ReserveRequests();
std::uint32_t BindRequests();

// Back to a fresh process: every range given back, faults, observer,
// counters cleared, board detached, text
// channels reset. (A stop asked for is the run's owner's to clear.)
void Reset();

}  // namespace platform::host
