// What the program's exit status says, for every sequence it runs.
#pragma once

#include <cstdint>

inline constexpr std::int32_t kExitOk = 0;              // the sequence ran to its end (loopback: PASS)
inline constexpr std::int32_t kExitUnmapped = 1;        // a register window could not be mapped
inline constexpr std::int32_t kExitUsage = 2;           // an argument the program does not take
inline constexpr std::int32_t kExitLoopbackFailed = 4;  // the loopback test read back something else
inline constexpr std::int32_t kExitUnwritten = 5;       // its help or version could not be written
