#include "sim/trace_log.h"

#include <cstdio>
#include <string>

#include "sim/board_map.h"

namespace sim {
namespace {

// The trace's words for blocks, registers and status bits.
const char* BlockName(Block block) {
    switch (block) {
        case Block::Gpio:
            return "gpio";
        case Block::ClockManager:
            return "clock";
        case Block::SerialPort:
            return "ssp";
        case Block::None:
            break;
    }
    return "none";
}

// Register name within a block, or null for an offset the board does not model.
const char* RegisterName(Block block, std::uint32_t offset) {
    switch (block) {
        case Block::Gpio:
            return offset == map::kGpioDirection64     ? "direction"
                   : offset == map::kGpioAltFunction80 ? "altfn"
                                                       : nullptr;
        case Block::ClockManager:
            return offset == map::kClockManagerEnable ? "enable" : nullptr;
        case Block::SerialPort:
            return offset == map::kPortControl0   ? "control0"
                   : offset == map::kPortControl1 ? "control1"
                   : offset == map::kPortStatus   ? "status"
                   : offset == map::kPortData     ? "data"
                                                  : nullptr;
        case Block::None:
            break;
    }
    return nullptr;
}

// The serial port's status bits by name, as "{tx-not-full,rx-not-empty}".
std::string DescribeStatus(std::uint32_t status) {
    std::string text = "{";
    for (const auto& [bit, name] : {std::pair{map::kPortStatusTxNotFull, "tx-not-full"},
                                    std::pair{map::kPortStatusRxNotEmpty, "rx-not-empty"},
                                    std::pair{map::kPortStatusRxOverrun, "rx-overrun"}}) {
        if ((status & bit) != 0) {
            text += text.size() > 1 ? "," : "";
            text += name;
        }
    }
    return text + "}";
}

}  // namespace

TraceLog::TraceLog(common::TextSink& out) : out_(out) {
    out_.Write("# time_s R/W block register offset physical value [xcount] [status bits]\n");
    out_.Write("# time_s call what: result\n");
}

void TraceLog::WritePending() {
    if (repeats_ == 0) {
        return;
    }
    const Access& a = pending_;
    const char* name = RegisterName(a.block, a.offset);
    char line[192];
    int n = std::snprintf(line, sizeof line, "%llu.%09llu %c %-5s %-9s +0x%03X 0x%08llX 0x%08X",
                          static_cast<unsigned long long>(a.ns / 1000000000u),
                          static_cast<unsigned long long>(a.ns % 1000000000u), a.write ? 'W' : 'R',
                          BlockName(a.block), name != nullptr ? name : "?", a.offset,
                          static_cast<unsigned long long>(a.physical), a.value);
    if (repeats_ > 1) {
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " x%llu",
                           static_cast<unsigned long long>(repeats_));
    }
    std::string text(line, static_cast<std::size_t>(n));
    if (a.block == Block::SerialPort && a.offset == map::kPortStatus) {
        text += ' ' + DescribeStatus(a.value);
    }
    text += '\n';
    out_.Write(text);
    repeats_ = 0;
}

void TraceLog::OnAccess(const Access& access) {
    if (!access.write && repeats_ != 0 && !pending_.write && pending_.physical == access.physical &&
        pending_.value == access.value) {
        repeats_ += access.count;
        return;
    }
    WritePending();
    pending_ = access;
    repeats_ = access.count;
}

void TraceLog::OnCall(std::uint64_t ns, const std::string& what) {
    WritePending();
    char time[32];
    std::snprintf(time, sizeof time, "%llu.%09llu", static_cast<unsigned long long>(ns / 1000000000u),
                  static_cast<unsigned long long>(ns % 1000000000u));
    out_.Write(std::string(time) + " call " + what + "\n");
}

void TraceLog::OnFinish(std::uint64_t /*ns*/) {
    WritePending();
}

}  // namespace sim
