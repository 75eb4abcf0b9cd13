// Mapping of physical register blocks into this process.
#pragma once

#include <cstdint>

#include "hw/register_window.h"

// Reserves whole pages of address space, binds the physical pages holding
// [physicalAddress, physicalAddress + length) to them uncached and
// read-write, and returns the address of physicalAddress's own register.
// Null on failure, after one line on the debug output.
RegisterWindow MapPhysicalAddr(std::uint32_t physicalAddress, std::uint32_t length);

// Gives back the pages behind a window returned by MapPhysicalAddr. The
// page base is released, not the window, so a window that starts inside its
// page is given back whole.
void ReleasePhysicalAddr(RegisterWindow window);
