// The simulated board's bus for the program built for the host: its
// register accesses go to the host's bus at the window's address.
#include <cstdint>

#include "hw/reg_io.h"
#include "platform/host/host_platform.h"

namespace {

std::uintptr_t Address(RegisterWindow window, std::uint32_t offset) {
    return reinterpret_cast<std::uintptr_t>(window) + offset;
}

}  // namespace

std::uint32_t RegRead(RegisterWindow window, std::uint32_t offset) {
    return platform::host::BusRead(Address(window, offset));
}

void RegWrite(RegisterWindow window, std::uint32_t offset, std::uint32_t value) {
    platform::host::BusWrite(Address(window, offset), value);
}

bool RegPollUntilSet(RegisterWindow window, std::uint32_t offset, std::uint32_t mask, std::uint32_t limit) {
    return platform::host::BusPoll(Address(window, offset), mask, PollReads(limit));
}
