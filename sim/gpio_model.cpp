#include "sim/gpio_model.h"

#include "ssp/registers.h"

namespace sim {

bool GpioModel::Read(std::uint32_t offset, std::uint32_t& value) {
    switch (offset) {
        case gpio::kDirection64:
            value = direction64;
            return true;
        case gpio::kAltFunction80:
            value = altFunction80;
            return true;
        default:
            value = 0;
            return false;
    }
}

bool GpioModel::Write(std::uint32_t offset, std::uint32_t value) {
    switch (offset) {
        case gpio::kDirection64:
            direction64 = value;
            return true;
        case gpio::kAltFunction80:
            altFunction80 = value;
            return true;
        default:
            return false;
    }
}

bool GpioModel::Routed(std::uint32_t pin, std::uint32_t function, bool output) const {
    const bool isOutput = (direction64 & gpio::DirectionBit(pin)) != 0;
    const std::uint32_t fn = (altFunction80 & gpio::AltFunctionMask(pin)) >> gpio::AltFunctionShift(pin);
    return fn == function && isOutput == output;
}

}  // namespace sim
