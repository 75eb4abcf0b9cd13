// The faults a board can be given, in one place: the models read them here.
#pragma once

#include <cstdint>

namespace sim {

struct Faults {
    bool txStuck = false;       // the transmit FIFO never reports room
    bool clockOff = false;      // the port's clock gate stays closed
    bool pinsUnrouted = false;  // the GPIO alternate-function register ignores writes
    std::uint32_t txSlow = 1;   // the port shifts this many times slower than programmed
};

}  // namespace sim
