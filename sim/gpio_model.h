// GPIO block of the simulated board: the pin-direction register for pins
// 64..95 and the alternate-function register for pins 80..95.
//
// Not modelled: the other banks and registers, pin levels, edge detection.
// Any other offset reads as 0; the board counts and notes such accesses.
#pragma once

#include <cstdint>

#include "sim/faults.h"

namespace sim {

// Pins reset as inputs with no alternate function, as the port's pins are
// on the board before anyone routes them.
inline constexpr std::uint32_t kGpioDirectionReset = 0x00000000;
inline constexpr std::uint32_t kGpioAltFunctionReset = 0x00000000;

class GpioModel {
  public:
    explicit GpioModel(const Faults& faults) : faults_(faults) {}
    void Reset();

    std::uint32_t direction64 = kGpioDirectionReset;
    std::uint32_t altFunction80 = kGpioAltFunctionReset;

    // Both return false for an offset the model does not know.
    bool Read(std::uint32_t offset, std::uint32_t& value) const;
    bool Write(std::uint32_t offset, std::uint32_t value);

    // The alternate function selected for `pin` (80..95), and whether it is
    // an output (64..95).
    std::uint32_t Function(std::uint32_t pin) const;
    bool IsOutput(std::uint32_t pin) const;

  private:
    const Faults& faults_;  // pinsUnrouted: the alternate-function register ignores writes
};

}  // namespace sim
