// Where the board's register blocks sit in physical memory, and how many
// bytes of each the program maps.
#pragma once

#include <cstdint>

namespace blocks {

inline constexpr std::uint32_t kGpioBase = 0x40E00000;
inline constexpr std::uint32_t kGpioBytes = 0x74;
inline constexpr std::uint32_t kSspBase = 0x41900000;
inline constexpr std::uint32_t kSspBytes = 0x14;
inline constexpr std::uint32_t kClockBase = 0x41300000;
inline constexpr std::uint32_t kClockBytes = 0x0C;

}  // namespace blocks
