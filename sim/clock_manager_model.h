// Clock manager of the simulated board: only the clock-enable register.
//
// Not modelled: clock sources, dividers, the other registers (counted and
// read as 0). Gates other than the serial port's have no effect.
#pragma once

#include <cstdint>

namespace sim {

// Several peripheral clocks run at reset, the serial port's (bit 9) among
// them, so a set-up that clears more than its own bit shows up.
inline constexpr std::uint32_t kClockEnableReset = 0x004003E1;

struct ClockManagerModel {
    std::uint32_t enable = kClockEnableReset;

    void Reset() { enable = kClockEnableReset; }

    bool Read(std::uint32_t offset, std::uint32_t& value) const;
    bool Write(std::uint32_t offset, std::uint32_t value);
    bool SerialPortClockOn() const;
};

}  // namespace sim
