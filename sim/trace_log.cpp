#include "sim/trace_log.h"

#include <cstdio>

namespace sim {

void TraceLog::WritePending() {
    if (repeats_ == 0) {
        return;
    }
    const Access& a = pending_;
    const char* name = RegisterName(a.block, a.offset);
    char line[160];
    int n = std::snprintf(line, sizeof line, "%llu.%09llu %c %-5s %-11s +0x%03X 0x%08X",
                          static_cast<unsigned long long>(a.ns / 1000000000u),
                          static_cast<unsigned long long>(a.ns % 1000000000u), a.write ? 'W' : 'R',
                          BlockName(a.block), name != nullptr ? name : "?", a.offset, a.value);
    if (repeats_ > 1) {
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " x%llu",
                           static_cast<unsigned long long>(repeats_));
    }
    line[n++] = '\n';
    out_.Write({line, static_cast<std::size_t>(n)});
    repeats_ = 0;
}

void TraceLog::OnAccess(const Access& access) {
    if (!access.write && repeats_ != 0 && !pending_.write && pending_.physical == access.physical &&
        pending_.value == access.value) {
        ++repeats_;
        return;
    }
    WritePending();
    pending_ = access;
    repeats_ = 1;
}

void TraceLog::OnFinish(std::uint64_t /*ns*/) {
    WritePending();
}

}  // namespace sim
