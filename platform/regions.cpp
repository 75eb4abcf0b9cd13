#include "platform/regions.h"

#include "platform/platform.h"

namespace platform {

bool ReserveArgsValid(const void* address, std::uint32_t size, std::uint32_t allocationType,
                      std::uint32_t protect) {
    return address == nullptr && size != 0 && size % kPageSize == 0 && (allocationType & kMemReserve) != 0 &&
           protect == kPageNoAccess;
}

bool BindArgsValid(std::uintptr_t base, std::uint64_t physical, std::uint32_t size, std::uint32_t protect) {
    return size != 0 && base % kPageSize == 0 && size % kPageSize == 0 && physical % kPageSize == 0 &&
           protect == (kPagePhysical | kPageNoCache | kPageReadWrite);
}

bool ReleaseArgsValid(std::uint32_t size, std::uint32_t freeType) {
    return size == 0 && freeType == kMemRelease;
}

bool ReservationTable::Add(std::uintptr_t base, std::uint32_t size) {
    if (full()) {
        return false;
    }
    entries_[count_++] = {base, size};
    return true;
}

const Reservation* ReservationTable::Holding(std::uintptr_t address, std::uint32_t size) const {
    for (std::size_t i = 0; i < count_; ++i) {
        const Reservation& r = entries_[i];
        if (address >= r.base && address - r.base < r.size && size <= r.size - (address - r.base)) {
            return &r;
        }
    }
    return nullptr;
}

const Reservation* ReservationTable::At(std::uintptr_t base) const {
    for (std::size_t i = 0; i < count_; ++i) {
        if (entries_[i].base == base) {
            return &entries_[i];
        }
    }
    return nullptr;
}

void ReservationTable::Remove(const Reservation* reservation) {
    const auto i = static_cast<std::size_t>(reservation - entries_);
    for (std::size_t j = i + 1; j < count_; ++j) {
        entries_[j - 1] = entries_[j];
    }
    --count_;
}

}  // namespace platform
