#include "sim/clock_manager_model.h"

#include "sim/board_map.h"

namespace sim {

bool ClockManagerModel::Read(std::uint32_t offset, std::uint32_t& value) const {
    value = offset == map::kClockManagerEnable ? enable : 0;
    return offset == map::kClockManagerEnable;
}

bool ClockManagerModel::Write(std::uint32_t offset, std::uint32_t value) {
    if (offset != map::kClockManagerEnable) {
        return false;
    }
    enable = value;
    return true;
}

bool ClockManagerModel::SerialPortClockOn() const {
    return (enable & map::kClockManagerEnableSerialPort) != 0;
}

}  // namespace sim
