// The rules every backend applies to the program's address-space calls,
// and the table of reserved ranges they keep. Written once so that the
// simulated board and a real board refuse exactly the same requests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// What ReserveRegion accepts: no preferred address, a nonzero whole number
// of pages, reserve only, no access.
bool ReserveArgsValid(const void* address, std::uint32_t size, std::uint32_t allocationType,
                      std::uint32_t protect);

// What VirtualCopy accepts once the range has been found in a reservation:
// page-aligned base, size and physical address, uncached read-write.
bool BindArgsValid(std::uintptr_t base, std::uint64_t physical, std::uint32_t size, std::uint32_t protect);

// What ReleaseRegion accepts: size 0 and the release-whole-range type.
bool ReleaseArgsValid(std::uint32_t size, std::uint32_t freeType);

struct Reservation {
    std::uintptr_t base;
    std::uint32_t size;
};

// Reserved ranges, in reservation order. Fixed size: the program makes
// three, and a backend must not allocate on a real board's path.
class ReservationTable {
  public:
    static constexpr std::size_t kCapacity = 16;

    bool Add(std::uintptr_t base, std::uint32_t size);
    // The reservation that holds all of [address, address + size), or null.
    const Reservation* Holding(std::uintptr_t address, std::uint32_t size) const;
    // The reservation starting at `base`, or null.
    const Reservation* At(std::uintptr_t base) const;
    void Remove(const Reservation* reservation);

    std::size_t size() const { return count_; }
    const Reservation& operator[](std::size_t i) const { return entries_[i]; }
    bool full() const { return count_ == kCapacity; }

  private:
    Reservation entries_[kCapacity] = {};
    std::size_t count_ = 0;
};

}  // namespace platform
