#include "sim/wire_log.h"

#include "common/wire_line.h"

namespace sim {

std::size_t WireLog::FormatFrame(const Frame& frame, char (&line)[64]) {
    return common::FormatWireLine(frame.startNs, frame.value, frame.bits, line);
}

void WireLog::OnFrameEnd(const Frame& frame, std::uint64_t /*endNs*/, FrameFate fate) {
    if (fate == FrameFate::OnWire) {
        char line[64];
        out_.Write({line, FormatFrame(frame, line)});
    }
}

}  // namespace sim
