#include "sim/trace_log.h"

#include <cstdio>
#include <string>

#include "sim/board_map.h"

namespace sim {

TraceLog::TraceLog(TextSink& out) : out_(out) {
    out_.Write("# time_s R/W block register offset physical value [xcount] [status bits]\n");
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

void TraceLog::OnFinish(std::uint64_t /*ns*/) {
    WritePending();
}

}  // namespace sim
