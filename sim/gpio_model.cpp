#include "sim/gpio_model.h"

#include "sim/board_map.h"

namespace sim {

bool GpioModel::Read(std::uint32_t offset, std::uint32_t& value) const {
    switch (offset) {
        case map::kGpioDirection64:
            value = directionHigh;
            return true;
        case map::kGpioAltFunction80:
            value = altFunctionTop;
            return true;
        default:
            value = 0;
            return false;
    }
}

bool GpioModel::Write(std::uint32_t offset, std::uint32_t value) {
    switch (offset) {
        case map::kGpioDirection64:
            directionHigh = value;
            return true;
        case map::kGpioAltFunction80:
            if (!pinsUnrouted) {
                altFunctionTop = value;
            }
            return true;
        default:
            return false;
    }
}

std::uint32_t GpioModel::Function(std::uint32_t pin) const {
    return (altFunctionTop >> (2 * (pin - map::kGpioAltFunctionFirstPin))) & 3u;
}

bool GpioModel::IsOutput(std::uint32_t pin) const {
    return ((directionHigh >> (pin - map::kGpioDirectionFirstPin)) & 1u) != 0;
}

}  // namespace sim
