// The only code that touches a register window.
//
// On hardware each read or write is one volatile 32-bit load or store,
// never merged or reordered, and a bounded wait is a loop of such loads.
// On the simulated board the same calls reach the board's bus, which
// accounts for every access in program order. The driver is the same
// source on both; the build picks the backend.
#pragma once

#include <cstdint>

#include "hw/register_window.h"

// RegPollUntilSet reads register `offset` until `(value & mask) != 0`. The
// first read is free; after it, `limit` more are allowed, so a wait that
// gives up has read exactly PollReads(limit) times. It never sleeps or
// yields and returns whether the bit was seen set.
constexpr std::uint64_t PollReads(std::uint32_t limit) {
    return std::uint64_t{limit} + 1;
}

#if defined(VARKEL_MMIO)

inline std::uint32_t RegRead(RegisterWindow window, std::uint32_t offset) {
    return *reinterpret_cast<volatile const std::uint32_t*>(window + offset);
}

inline void RegWrite(RegisterWindow window, std::uint32_t offset, std::uint32_t value) {
    *reinterpret_cast<volatile std::uint32_t*>(window + offset) = value;
}

inline bool RegPollUntilSet(RegisterWindow window, std::uint32_t offset, std::uint32_t mask,
                            std::uint32_t limit) {
    for (std::uint32_t counter = limit;; --counter) {
        if ((RegRead(window, offset) & mask) != 0) {
            return true;
        }
        if (counter == 0) {
            return false;
        }
    }
}

#else

// Provided by the simulated board's bus (platform/host/sim_bus.cpp).
std::uint32_t RegRead(RegisterWindow window, std::uint32_t offset);
void RegWrite(RegisterWindow window, std::uint32_t offset, std::uint32_t value);
bool RegPollUntilSet(RegisterWindow window, std::uint32_t offset, std::uint32_t mask, std::uint32_t limit);

#endif

// Read-modify-write: one read, clear `clear`, set `set`, one write.
// Not for registers with side effects on write (data, write-1-to-clear).
inline void RegUpdate(RegisterWindow window, std::uint32_t offset, std::uint32_t clear, std::uint32_t set) {
    const std::uint32_t value = RegRead(window, offset);
    RegWrite(window, offset, (value & ~clear) | set);
}
