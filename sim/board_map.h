// The board as its manual describes it: where each register block sits in
// physical memory, the offset of each register the board models and the
// bits of each field, and which pins carry the serial port.
//
// Written from the board's side and never taken from the program: where the
// same number appears in the program's headers, the two were written apart
// and the tests compare them through the bus.
#pragma once

#include <cstdint>

namespace sim::map {

inline constexpr std::uint64_t kPageBytes = 0x1000;

// Register blocks: each occupies the page at its base.
inline constexpr std::uint64_t kGpioBlock = 0x40E00000;
inline constexpr std::uint64_t kClockManagerBlock = 0x41300000;
inline constexpr std::uint64_t kSerialPortBlock = 0x41900000;

// GPIO block.
inline constexpr std::uint32_t kGpioDirection64 = 0x14;    // pins 64..95: bit (pin - 64), 1 = output
inline constexpr std::uint32_t kGpioAltFunction80 = 0x68;  // pins 80..95: bits [2k+1:2k] for pin 80 + k
inline constexpr std::uint32_t kGpioDirectionFirstPin = 64;
inline constexpr std::uint32_t kGpioAltFunctionFirstPin = 80;

// Clock manager block.
inline constexpr std::uint32_t kClockManagerEnable = 0x04;
inline constexpr std::uint32_t kClockManagerEnableSerialPort = 1u << 9;

// Serial port block.
inline constexpr std::uint32_t kPortControl0 = 0x00;
inline constexpr std::uint32_t kPortControl0DataSize = 0x0000000F;     // [3:0] bits per frame - 1
inline constexpr std::uint32_t kPortControl0FrameFormat = 0x00000030;  // [5:4] 0 = clocked frames (SPI-style)
inline constexpr std::uint32_t kPortControl0ExternalClock = 0x00000040;  // [6]
inline constexpr std::uint32_t kPortControl0Enable = 0x00000080;         // [7]
inline constexpr std::uint32_t kPortControl0ClockRate = 0x0000FF00;  // [15:8] bit time = rate + 1 base clocks
inline constexpr std::uint32_t kPortControl1 = 0x04;
inline constexpr std::uint32_t kPortStatus = 0x08;
inline constexpr std::uint32_t kPortStatusTxNotFull = 1u << 2;
inline constexpr std::uint32_t kPortStatusRxNotEmpty = 1u << 3;
inline constexpr std::uint32_t kPortStatusRxOverrun = 1u << 7;  // write 1 to clear
inline constexpr std::uint32_t kPortData = 0x10;

// The serial port's pins, and the alternate function that gives a pin to it.
inline constexpr std::uint32_t kPinSerialClock = 81;   // output
inline constexpr std::uint32_t kPinReceiveData = 82;   // input
inline constexpr std::uint32_t kPinFrame = 83;         // output
inline constexpr std::uint32_t kPinTransmitData = 84;  // output
inline constexpr std::uint32_t kSerialPortFunction = 1;

}  // namespace sim::map
