// The file a user gives --binary, checked before anything runs it: it must
// be what the board runs, a statically linked 32-bit little-endian ARM
// Linux executable, whole. Nothing in it is trusted before it is checked.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace varkel_sim::binary {

// A board binary is far smaller; a larger file is refused, not copied.
inline constexpr std::uint64_t kMaxBinaryBytes = 256u << 20;

// Whether `image` (the whole file) is a board binary. If not, `error` says
// why in words that follow "FILE ", as "is not an ELF file".
bool CheckBoardElf(std::span<const std::uint8_t> image, std::string& error);

}  // namespace varkel_sim::binary
