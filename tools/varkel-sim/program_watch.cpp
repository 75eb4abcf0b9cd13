#include "tools/varkel-sim/program_watch.h"

#include <algorithm>
#include <cstdio>

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

namespace {

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

std::string PlatformWitness::Which(std::uint64_t address) const {
    for (const Reservation& r : held_) {
        if (address - r.base < r.bytes) {
            return "reservation " + std::to_string(r.number);
        }
    }
    return "no reservation";
}

std::string PlatformWitness::Reserved(std::uint64_t bytes, std::uint64_t base) {
    if (base == 0) {
        return "reserve " + Hex(bytes) + " bytes: refused";
    }
    held_.push_back({base, bytes, ++made_});
    return "reserve " + Hex(bytes) + " bytes: reservation " + std::to_string(made_);
}

std::string PlatformWitness::Bound(std::uint64_t address, std::uint64_t physical, std::uint64_t bytes,
                                   bool ok) {
    return "bind physical " + Hex(physical) + ", " + Hex(bytes) + " bytes, in " + Which(address) + ": " +
           (ok ? "ok" : "refused");
}

std::string PlatformWitness::Released(std::uint64_t address, bool ok) {
    const std::string which = Which(address);
    if (ok) {
        std::erase_if(held_, [&](const Reservation& r) { return address - r.base < r.bytes; });
    }
    return "release " + which + ": " + (ok ? "ok" : "refused");
}

}  // namespace varkel_sim
