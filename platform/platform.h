// The operations the program takes from its platform: address-space
// reservation and physical binding, two text channels, a byte copy and a
// sleep. Every OS call the program makes goes through here, so a backend
// can be swapped (simulated board, Linux /dev/mem) without touching it.
#pragma once

#include <cstddef>
#include <cstdint>

// Reservations and bindings are made in whole pages of this size.
inline constexpr std::uint32_t kPageSize = 0x1000;

// ReserveRegion allocation type: reserve address space, commit nothing.
inline constexpr std::uint32_t kMemReserve = 0x2000;
// ReleaseRegion free type: give back the whole reserved range (size 0).
inline constexpr std::uint32_t kMemRelease = 0x8000;
// Protection words.
inline constexpr std::uint32_t kPageNoAccess = 0x001;
inline constexpr std::uint32_t kPageReadWrite = 0x004;
inline constexpr std::uint32_t kPageNoCache = 0x200;
inline constexpr std::uint32_t kPagePhysical = 0x400;  // source is a physical address / 256

// Reserves `size` bytes of address space (a multiple of 4096) with no access.
// Returns the page-aligned base, or null when refused.
void* ReserveRegion(void* address, std::uint32_t size, std::uint32_t allocationType, std::uint32_t protect);

// Binds physical pages, starting at physicalDiv256 * 256, to a reserved range.
// Nonzero once they are visible at `base`; 0 when refused.
int VirtualCopy(void* base, std::uint32_t physicalDiv256, std::uint32_t size, std::uint32_t protect);

// Gives back a reserved range, given its base. Nonzero on success.
int ReleaseRegion(void* address, std::uint32_t size, std::uint32_t freeType);

// printf-style text to the debug channel. The format is wide, and %s takes
// a wide string; the text goes out as UTF-8.
void DebugPrint(const wchar_t* format, ...);

// printf-style text to the console (standard output).
int ConsolePrint(const char* format, ...);

void* CopyBytes(void* destination, const void* source, std::size_t count);

// Suspends the calling thread for about `milliseconds`.
void SleepMs(std::uint32_t milliseconds);
