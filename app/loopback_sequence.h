// The loopback self-test: for a board with a jumper from the port's
// transmit pin to its receive pin, and no logic analyser.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::uint32_t kLoopbackDefaultMessages = 10;

// Maps the three register windows and sets the port up as the test does,
// empties the receive FIFO, then sends the test message `messages` times
// (1 to kMessageCount), reading each byte back and comparing it with what
// was sent, with no pause between messages; it stops at the first message
// that does not come back. Releases the windows and ends with one verdict
// line on the console. Returns kExitOk on PASS, kExitLoopbackFailed on
// FAIL, kExitUnmapped when a window could not be mapped.
std::int32_t LoopbackTestMain(std::uint32_t messages);

// What a message's bytes read back say about the likely cause, when they
// show one: `received` holds each byte read back, or -1 where none came.
// Null when the evidence names no cause.
const char* LoopbackCause(const std::uint8_t* sent, const std::int32_t* received, std::size_t count);
