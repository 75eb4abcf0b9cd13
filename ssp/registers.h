// Layout of every register the port driver uses, in its three windows.
// Offsets are bytes from the window; every register is one 32-bit word.
#pragma once

#include <cstdint>

#include "hw/physical_map.h"

namespace clk {

inline constexpr std::uint32_t kEnable = 0x04;        // clock-enable register
inline constexpr std::uint32_t kEnableSsp = 1u << 9;  // [9] serial-port clock

}  // namespace clk

namespace gpio {

// Pin direction for pins 64..95: bit n is pin 64 + n, 1 = output.
inline constexpr std::uint32_t kDirection64 = 0x14;
// Alternate function for pins 80..95: pin 80 + k owns bits [2k+1:2k].
inline constexpr std::uint32_t kAltFunction80 = 0x68;

inline constexpr std::uint32_t kDirectionFirstPin = 64;
inline constexpr std::uint32_t kAltFunctionFirstPin = 80;

inline constexpr std::uint32_t DirectionBit(std::uint32_t pin) {
    return 1u << (pin - kDirectionFirstPin);
}
inline constexpr std::uint32_t AltFunctionShift(std::uint32_t pin) {
    return 2 * (pin - kAltFunctionFirstPin);
}
inline constexpr std::uint32_t AltFunctionMask(std::uint32_t pin) {
    return 3u << AltFunctionShift(pin);
}

// The four pins the port uses and the function that routes them to it.
// 81, 83 and 84 are driven by the port, 82 is its input.
inline constexpr std::uint32_t kSspPins[4] = {81, 82, 83, 84};
inline constexpr std::uint32_t kSspFunction = 1;
inline constexpr std::uint32_t kSspOutputBits = (1u << 17) | (1u << 19) | (1u << 20);  // pins 81, 83, 84
inline constexpr std::uint32_t kSspInputBits = 1u << 18;                               // pin 82

}  // namespace gpio

namespace ssp {

inline constexpr std::uint32_t kControl0 = 0x00;
inline constexpr std::uint32_t kControl1 = 0x04;
inline constexpr std::uint32_t kStatus = 0x08;
inline constexpr std::uint32_t kData = 0x10;

// Control register 0.
inline constexpr std::uint32_t kDataSizeMask = 0x0000000F;     // [3:0] bits per frame - 1
inline constexpr std::uint32_t kFrameFormatMask = 0x00000030;  // [5:4] frame format, 0 = SPI-style
inline constexpr std::uint32_t kFrameFormatShift = 4;
inline constexpr std::uint32_t kExternalClock = 0x00000040;  // [6] clock source select
inline constexpr std::uint32_t kEnable = 0x00000080;         // [7] port enable
inline constexpr std::uint32_t kClockRateMask = 0x0000FF00;  // [15:8] serial clock rate
inline constexpr std::uint32_t kClockRateShift = 8;
inline constexpr std::uint32_t kDataSize8 = 7;

// Status register.
inline constexpr std::uint32_t kTxNotFull = 1u << 2;   // [2] transmit FIFO not full
inline constexpr std::uint32_t kRxNotEmpty = 1u << 3;  // [3] receive FIFO not empty
inline constexpr std::uint32_t kRxOverrun = 1u << 7;   // [7] receive overrun, write 1 to clear

}  // namespace ssp

static_assert(clk::kEnable % 4 == 0 && clk::kEnable + 4 <= phys::kClockBytes);
static_assert(gpio::kDirection64 % 4 == 0 && gpio::kDirection64 + 4 <= phys::kGpioBytes);
static_assert(gpio::kAltFunction80 % 4 == 0 && gpio::kAltFunction80 + 4 <= phys::kGpioBytes);
static_assert(ssp::kData % 4 == 0 && ssp::kData + 4 <= phys::kSspBytes);
static_assert(gpio::kSspOutputBits ==
              (gpio::DirectionBit(81) | gpio::DirectionBit(83) | gpio::DirectionBit(84)));
static_assert(gpio::kSspInputBits == gpio::DirectionBit(82));
