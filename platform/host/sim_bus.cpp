// The simulated board's bus: the program's register accesses, translated
// from its windows to physical addresses and handed to the board.
#include <cstdint>

#include "hw/reg_io.h"
#include "platform/host/host_platform.h"
#include "sim/board.h"

namespace {

bool ToBoard(RegisterWindow window, std::uint32_t offset, bool write, std::uint64_t& physical) {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(window) + offset;
    if (host::AttachedBoard() == nullptr || !host::ToPhysical(address, physical)) {
        host::Stray(address, write);
        return false;
    }
    return true;
}

}  // namespace

std::uint32_t RegRead(RegisterWindow window, std::uint32_t offset) {
    std::uint64_t physical = 0;
    return ToBoard(window, offset, false, physical) ? host::AttachedBoard()->Read(physical) : 0;
}

void RegWrite(RegisterWindow window, std::uint32_t offset, std::uint32_t value) {
    std::uint64_t physical = 0;
    if (ToBoard(window, offset, true, physical)) {
        host::AttachedBoard()->Write(physical, value);
    }
}

bool RegPollUntilSet(RegisterWindow window, std::uint32_t offset, std::uint32_t mask, std::uint32_t limit) {
    std::uint64_t physical = 0;
    if (!ToBoard(window, offset, false, physical)) {
        host::Stray(reinterpret_cast<std::uintptr_t>(window) + offset, false, limit);
        return false;  // a stray read is 0: the wait reads limit + 1 times and gives up
    }
    return host::AttachedBoard()->Poll(physical, mask, std::uint64_t{limit} + 1);
}
