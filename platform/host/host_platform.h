// The platform operations on a Linux host, over the simulated board.
//
// Reservations are real address ranges with no access, so a stray direct
// dereference faults instead of passing silently. A binding records which
// physical pages a range stands for; register accesses through it go to the
// board's bus (RegRead, PollRegisterUntilSet and RegWrite, at the end of
// host_platform.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {
class Board;
}

namespace host {

struct Region {
    std::uintptr_t base;
    std::uint32_t size;
    bool bound;
    std::uint64_t physical;  // page base, when bound
};

// Refuse the Nth reservation or binding, counted from 1 in request order.
struct Faults {
    std::vector<std::uint32_t> refuseReserve;
    std::vector<std::uint32_t> refuseBind;
};

enum class Call { Reserve, Bind, Release, Debug, Console, CopyBytes, Sleep };

// One platform call as the program made it, for tests and tools that
// check the order of things.
struct CallRecord {
    Call call;
    std::uint64_t args[4];
    std::int64_t result;
    std::string text;  // Debug and Console: the formatted text
};

// Board that the bus and SleepMs drive; null detaches.
void Attach(sim::Board* board);
void SetFaults(const Faults& faults);
void SetCallObserver(std::function<void(const CallRecord&)> observer);

// Ranges still reserved, in reservation order.
std::vector<Region> Regions();
// Register accesses through an address that no binding covers.
std::uint64_t StrayAccesses();

// Back to a fresh process: every range given back, faults, observer and
// counters cleared, board detached, text channels reset.
void Reset();

}  // namespace host
