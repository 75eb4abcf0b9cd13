// Bounded busy-wait on a register bit.
#pragma once

#include <cstdint>

#include "hw/reg_io.h"

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

// The same wait on register `offset` of `window`: one RegRead per try.
#if defined(VARKEL_MMIO)

inline bool PollRegisterUntilSet(RegisterWindow window, std::uint32_t offset, std::uint32_t mask,
                                 std::uint32_t limit) {
    return PollUntilSet([window, offset] { return RegRead(window, offset); }, mask, limit);
}

#else

// Provided by the host backend: the same reads, in the same order, but a
// run of them that the board has already answered is counted in a register
// (platform/host/).
bool PollRegisterUntilSet(RegisterWindow window, std::uint32_t offset, std::uint32_t mask,
                          std::uint32_t limit);

#endif
