#include "sim/wire_log.h"

#include <cstdio>

namespace sim {

std::size_t WireLog::FormatFrame(const Frame& frame, char (&line)[64]) {
    const int digits = static_cast<int>((frame.bits + 3) / 4);
    const int n =
        std::snprintf(line, sizeof line, "%llu.%09llu 0x%0*X\n",
                      static_cast<unsigned long long>(frame.startNs / 1000000000u),
                      static_cast<unsigned long long>(frame.startNs % 1000000000u), digits, frame.value);
    return static_cast<std::size_t>(n);
}

void WireLog::OnFrameEnd(const Frame& frame, std::uint64_t /*endNs*/, FrameFate fate) {
    if (fate == FrameFate::OnWire) {
        char line[64];
        out_.Write({line, FormatFrame(frame, line)});
    }
}

}  // namespace sim
