#include "hw/map_physical.h"

#include <cstdint>

#include "platform/platform.h"

RegisterWindow GpioRegPtr = nullptr;
RegisterWindow SspRegPtr = nullptr;
RegisterWindow v_pClkRegs = nullptr;

namespace {

constexpr const wchar_t* kReserveFailed = L"\tMapPhysicalAddr : Error Return. \r\n";
constexpr const wchar_t* kBindFailed = L"\tMapPhysicalAddr : return false from VirtualCopy(). \r\n";

}  // namespace

RegisterWindow MapPhysicalAddr(std::uint32_t physicalAddress, std::uint32_t length) {
    const std::uint32_t pageBase = physicalAddress & ~(kPageSize - 1);
    const std::uint32_t inPage = physicalAddress - pageBase;

    // L + O rounded up to whole pages would wrap past 4 GiB and map fewer
    // pages than the block spans; refuse it like a refused reservation.
    if (length > UINT32_MAX - inPage - (kPageSize - 1)) {
        DebugPrint(kReserveFailed);
        return nullptr;
    }
    const std::uint32_t size = (length + inPage + (kPageSize - 1)) & ~(kPageSize - 1);

    void* base = ReserveRegion(nullptr, size, kMemReserve, kPageNoAccess);
    if (base == nullptr) {
        DebugPrint(kReserveFailed);
        return nullptr;
    }
    if (VirtualCopy(base, pageBase >> 8, size, kPagePhysical | kPageNoCache | kPageReadWrite) == 0) {
        DebugPrint(kBindFailed);
        ReleaseRegion(base, 0, kMemRelease);
        return nullptr;
    }
    return static_cast<RegisterWindow>(base) + inPage;
}

void ReleasePhysicalAddr(RegisterWindow window) {
    const auto address = reinterpret_cast<std::uintptr_t>(window);
    const std::uintptr_t pageBase = address & ~static_cast<std::uintptr_t>(kPageSize - 1);
    ReleaseRegion(reinterpret_cast<void*>(pageBase), 0, kMemRelease);
}
