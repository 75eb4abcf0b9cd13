#include "tools/varkel-sim/program_watch.h"

#include <algorithm>

#include "sim/board_map.h"

namespace varkel_sim {

void GiveUpWatch::OnAccess(const sim::Access& a) {
    const bool port = a.block == sim::Block::SerialPort;
    if (port && !a.write && a.offset == sim::map::kPortStatus) {
        const bool full = (a.value & sim::map::kPortStatusTxNotFull) == 0;
        fullStatusReads_ = full ? std::min<std::uint64_t>(fullStatusReads_ + a.count, 2) : 0;
        return;
    }
    if (port && a.write && a.offset == sim::map::kPortData) {
        fullStatusReads_ = 0;  // the wait ended in a store: the send went on
        return;
    }
    Other();
}

void GiveUpWatch::Other() {
    if (fullStatusReads_ >= 2) {
        ++sendsGaveUp_;
    }
    fullStatusReads_ = 0;
}

}  // namespace varkel_sim
