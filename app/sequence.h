// The test program: entry point and the whole test sequence.
#pragma once

#include <cstddef>
#include <cstdint>

// "ZEL NSSP" and a zero byte; all nine bytes go out with every message.
inline constexpr std::uint8_t kTestMessage[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};
inline constexpr std::size_t kTestMessageLength = sizeof kTestMessage;
inline constexpr std::uint32_t kMessageCount = 10000;
inline constexpr std::uint32_t kMessageIntervalMs = 1000;

// Announces the program, maps the three register windows, sets the port up,
// sends the test message kMessageCount times kMessageIntervalMs apart,
// releases the windows and reports completion. The four arguments (those of
// a GUI application's entry) are ignored. Returns 0 after a full run and 1
// when a window could not be mapped.
std::int32_t PortTestMain(void* instance, void* previousInstance, wchar_t* commandLine, int showState);
