// Bounded busy-wait on a register bit.
#pragma once

#include <cstdint>

// Reads with `read()` until `(read() & mask) != 0`. The first read is free;
// after it, `limit` more reads are allowed, so a wait that gives up has read
// exactly limit + 1 times. Never sleeps or yields. Returns true when the bit
// was seen set, false when the wait gave up.
template <typename ReadFn>
inline bool PollUntilSet(ReadFn read, std::uint32_t mask, std::uint32_t limit) {
    std::uint32_t counter = limit;
    for (;;) {
        if ((read() & mask) != 0) {
            return true;
        }
        if (counter == 0) {
            return false;
        }
        --counter;
    }
}
