// The system calls a static board binary and its C library make, each
// with how the binary's kernel answers it. Every call not listed here is
// refused before the emulator performs it, naming the call: an allow-list,
// so that what the board's kernel would do and what the emulator would do
// on this machine can never quietly part.
#pragma once

#include <cstdint>

namespace varkel_sim::binary {

enum class GuestRule : std::uint8_t {
    Kernel,  // performed by the emulator as the board's kernel performs it
    Open,    // opened by what the path names, not how it is spelled (the trap)
    Sleep,   // board time passes (the trap)
    Map,     // register windows are made, changed and given back
    Thread,  // a thread may start; a second process may not
    Ioctl,   // only a terminal's queries, which change nothing
};

struct GuestCall {
    std::uint32_t number;  // 32-bit ARM EABI
    GuestRule rule;
    std::uint8_t descriptors;  // bit i: argument i is a descriptor
    std::uint8_t notDevice;    // bit i: ... that may not be /dev/mem (read, write, seek, stat on it)
};

// The call's entry, or null: a call no board binary makes, refused.
const GuestCall* FindGuestCall(std::int64_t number);

// The call's name as the kernel's headers spell it, or null.
const char* GuestCallName(std::int64_t number);

// Why a call that is not allowed is refused, where there is more to say
// than that a board binary does not make it; or null.
const char* GuestRefusalReason(std::int64_t number);

}  // namespace varkel_sim::binary
