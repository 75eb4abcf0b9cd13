// A mapped block of 32-bit device registers, and the program's three windows.
#pragma once

#include <cstdint>

// Address of a mapped register block in this process, or null when nothing
// is mapped. Registers are whole, aligned 32-bit words at byte offsets from
// the window; only the accessors in hw/reg_io.h touch them.
using RegisterWindow = volatile std::uint8_t*;

// Set by the test sequence from MapPhysicalAddr; null until then and left
// stale (not cleared) after release.
extern RegisterWindow GpioRegPtr;
extern RegisterWindow SspRegPtr;
extern RegisterWindow v_pClkRegs;
