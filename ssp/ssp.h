// Driver for the synchronous serial port.
#pragma once

#include <cstdint>

// Serial clock rate programmed into control register 0, bits [15:8]; only
// its low 8 bits reach the register.
extern std::int32_t SspClockRate;

// Start value of the bounded status wait's counter: a wait reads the status
// register at most kPollLimit + 1 times.
inline constexpr std::uint32_t kPollLimit = 0x3FFFF;

// Routes the port's four pins, gates its clock off around the set-up and
// programs it for 8-bit SPI-style frames. Does nothing unless all three
// windows are mapped.
void ConfigureSspPort();

// Sends `length` bytes, waiting (bounded) for transmit room before each.
// Returns 1 when every byte reached the data register, 0 when a wait gave up
// (the rest is dropped), when the port is unmapped, or when `buffer` is null
// with a positive length. The debug line lists the bytes actually stored.
std::int32_t SspSendBuffer(const std::uint8_t* buffer, std::int32_t length);

// Waits (bounded) for a received frame and returns its low 8 bits, or -1
// when none arrived, in which case the data register is not read (a frame
// arriving just after the last poll stays in the FIFO for the next call).
// -1 too when the port is unmapped.
std::int32_t SspReadByte();

// Discards what the receive FIFO holds, at most kFlushLimit frames (a
// receiver that never empties is not waited on), then clears its overrun
// flag. Returns the number of frames discarded, or -1 when the port is
// unmapped.
inline constexpr std::int32_t kFlushLimit = 64;
std::int32_t SspFlushReceive();

// Stores `value`, whole and unchecked, into the data register, without
// waiting for transmit room. Returns 1, or 0 when the port is unmapped.
std::int32_t SspWriteByte(std::uint32_t value);

// Spins through 100 empty iterations; touches no register. Returns 1.
std::int32_t SspSettleDelay();
