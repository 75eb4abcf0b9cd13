#include "sim/clock_model.h"

#include "ssp/registers.h"

namespace sim {

bool ClockManagerModel::Read(std::uint32_t offset, std::uint32_t& value) {
    if (offset == clk::kEnable) {
        value = enable;
        return true;
    }
    value = 0;
    return false;
}

bool ClockManagerModel::Write(std::uint32_t offset, std::uint32_t value) {
    if (offset == clk::kEnable) {
        enable = value;
        return true;
    }
    return false;
}

}  // namespace sim
