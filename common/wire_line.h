// One line of the wire log, "<seconds>.<nanoseconds> 0x<value>\n", the value
// as many hex digits as its frame's bits need. The simulated board writes
// its wire this way, and a checked capture's frames are written the same,
// so the two diff line for line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace common {

// Writes the line into `line`; returns its length.
inline std::size_t FormatWireLine(std::uint64_t startNs, std::uint32_t value, unsigned bits,
                                  char (&line)[64]) {
    const int digits = static_cast<int>((bits + 3) / 4);
    const int n = std::snprintf(line, sizeof line, "%llu.%09llu 0x%0*X\n",
                                static_cast<unsigned long long>(startNs / 1000000000u),
                                static_cast<unsigned long long>(startNs % 1000000000u), digits, value);
    return static_cast<std::size_t>(n);
}

}  // namespace common
