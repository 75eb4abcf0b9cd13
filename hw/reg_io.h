// The only code that touches a register window.
//
// On hardware each call is one volatile 32-bit load or store, never merged
// or reordered. On the simulated board the same calls reach the board's bus,
// which hands every access to the device model once, in program order. The
// driver is the same source on both; the build picks the backend.
#pragma once

#include <cstdint>

#include "hw/register_window.h"

#if defined(VARKEL_MMIO)

inline std::uint32_t RegRead(RegisterWindow window, std::uint32_t offset) {
    return *reinterpret_cast<volatile const std::uint32_t*>(window + offset);
}

inline void RegWrite(RegisterWindow window, std::uint32_t offset, std::uint32_t value) {
    *reinterpret_cast<volatile std::uint32_t*>(window + offset) = value;
}

#else

// Provided by the host backend, over the simulated board (platform/host/).
std::uint32_t RegRead(RegisterWindow window, std::uint32_t offset);
void RegWrite(RegisterWindow window, std::uint32_t offset, std::uint32_t value);

#endif

// Read-modify-write: one read, clear `clear`, set `set`, one write.
// Not for registers with side effects on write (data, write-1-to-clear).
inline void RegUpdate(RegisterWindow window, std::uint32_t offset, std::uint32_t clear, std::uint32_t set) {
    const std::uint32_t value = RegRead(window, offset);
    RegWrite(window, offset, (value & ~clear) | set);
}
