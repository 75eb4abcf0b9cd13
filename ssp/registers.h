// Layout of every register the port driver uses, in its three windows.
// Offsets are bytes from the window; every register is one 32-bit word.
// A bit or field is named after its register, so an offset and a bit never
// share a name.
#pragma once

#include <cstdint>

#include "hw/bits.h"
#include "hw/register_blocks.h"

namespace clk {

inline constexpr std::uint32_t kClockEnable = 0x04;
inline constexpr std::uint32_t kClockEnableSsp = Bit(9);  // [9] serial-port clock

}  // namespace clk

namespace gpio {

// Pin direction for pins 64..95: bit n is pin 64 + n, 1 = output.
inline constexpr std::uint32_t kPinDirection64 = 0x14;
// Alternate function for pins 80..95: pin 80 + k owns bits [2k+1:2k].
inline constexpr std::uint32_t kAltFunction80 = 0x68;

consteval std::uint32_t PinDirectionBit(std::uint32_t pin) {
    return Bit(pin - 64);
}
// A pin outside 80..95 owns no field here: its mask is empty.
constexpr std::uint32_t AltFunctionField(std::uint32_t pin) {
    return pin >= 80 && pin <= 95 ? GenMask(1, 0) << (2 * (pin - 80)) : 0;
}

// The port's four pins in the order the set-up routes them, and the
// function that routes them to it. 81, 83 and 84 are driven by the port
// (clock, frame, transmit data); 82 is its receive data input.
inline constexpr std::uint32_t kSspPins[4] = {81, 82, 83, 84};
inline constexpr std::uint32_t kSspFunction = 1;
inline constexpr std::uint32_t kSspOutputBits = Bit(17) | Bit(19) | Bit(20);  // pins 81, 83, 84
inline constexpr std::uint32_t kSspInputBits = Bit(18);                       // pin 82

}  // namespace gpio

namespace ssp {

inline constexpr std::uint32_t kControl0 = 0x00;
inline constexpr std::uint32_t kControl0DataSize = GenMask(3, 0);    // [3:0] bits per frame - 1
inline constexpr std::uint32_t kControl0Enable = Bit(7);             // [7] port enable
inline constexpr std::uint32_t kControl0ClockRate = GenMask(15, 8);  // [15:8] serial clock rate

inline constexpr std::uint32_t kControl1 = 0x04;

inline constexpr std::uint32_t kStatus = 0x08;
inline constexpr std::uint32_t kStatusTxNotFull = Bit(2);   // [2] transmit FIFO not full
inline constexpr std::uint32_t kStatusRxNotEmpty = Bit(3);  // [3] receive FIFO not empty
inline constexpr std::uint32_t kStatusRxOverrun = Bit(7);   // [7] receive overrun, write 1 to clear

inline constexpr std::uint32_t kData = 0x10;

}  // namespace ssp

static_assert(clk::kClockEnable % 4 == 0 && clk::kClockEnable + 4 <= blocks::kClockBytes);
static_assert(gpio::kPinDirection64 % 4 == 0 && gpio::kPinDirection64 + 4 <= blocks::kGpioBytes);
static_assert(gpio::kAltFunction80 % 4 == 0 && gpio::kAltFunction80 + 4 <= blocks::kGpioBytes);
static_assert(ssp::kData % 4 == 0 && ssp::kData + 4 <= blocks::kSspBytes);
static_assert(gpio::kSspOutputBits ==
              (gpio::PinDirectionBit(81) | gpio::PinDirectionBit(83) | gpio::PinDirectionBit(84)));
static_assert(gpio::kSspInputBits == gpio::PinDirectionBit(82));
