#include "sim/gpio_model.h"

#include "sim/board_map.h"

namespace sim {

void GpioModel::Reset() {
    direction64 = kGpioDirectionReset;
    altFunction80 = kGpioAltFunctionReset;
}

bool GpioModel::Read(std::uint32_t offset, std::uint32_t& value) const {
    switch (offset) {
        case map::kGpioDirection64:
            value = direction64;
            return true;
        case map::kGpioAltFunction80:
            value = altFunction80;
            return true;
        default:
            value = 0;
            return false;
    }
}

bool GpioModel::Write(std::uint32_t offset, std::uint32_t value) {
    switch (offset) {
        case map::kGpioDirection64:
            direction64 = value;
            return true;
        case map::kGpioAltFunction80:
            if (!faults_.pinsUnrouted) {
                altFunction80 = value;
            }
            return true;
        default:
            return false;
    }
}

std::uint32_t GpioModel::Function(std::uint32_t pin) const {
    return (altFunction80 >> (2 * (pin - map::kGpioAltFunctionFirstPin))) & 3u;
}

bool GpioModel::IsOutput(std::uint32_t pin) const {
    return ((direction64 >> (pin - map::kGpioDirectionFirstPin)) & 1u) != 0;
}

}  // namespace sim
