// GPIO block of the simulated board: the pin-direction register for pins
// 64..95 and the alternate-function register for pins 80..95.
//
// Not modelled: the other banks, pin levels, edge detection. Any other
// offset reads as 0; the board counts and notes such accesses.
#pragma once

#include <cstdint>

namespace sim {

// Pins reset as inputs with no alternate function, as the port's pins are
// on the board before anyone routes them.
inline constexpr std::uint32_t kGpioDirectionReset = 0x00000000;
inline constexpr std::uint32_t kGpioAltFunctionReset = 0x00000000;

struct GpioModel {
    std::uint32_t direction64 = kGpioDirectionReset;
    std::uint32_t altFunction80 = kGpioAltFunctionReset;

    // Returns false for an offset the model does not know.
    bool Read(std::uint32_t offset, std::uint32_t& value);
    bool Write(std::uint32_t offset, std::uint32_t value);

    // True when `pin` has alternate function `function` and the direction
    // given (output or input).
    bool Routed(std::uint32_t pin, std::uint32_t function, bool output) const;
};

}  // namespace sim
