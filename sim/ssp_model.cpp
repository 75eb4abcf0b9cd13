#include "sim/ssp_model.h"

#include <algorithm>

#include "sim/board_map.h"

namespace sim {

std::uint32_t SspModel::Status() const {
    std::uint32_t status = 0;
    if (!tx_.full() && !(faults_.txStuck || stalled_)) {
        status |= map::kPortStatusTxNotFull;
    }
    if (!rx_.empty()) {
        status |= map::kPortStatusRxNotEmpty;
    }
    if (overrun_) {
        status |= map::kPortStatusRxOverrun;
    }
    return status;
}

void SspModel::Reset() {
    control0_ = control1_ = 0;
    unmodelled_ = overrun_ = clockGate_ = shifting_ = false;
    tx_.clear();
    rx_.clear();
    current_ = {};
    freeAtNs_ = readyAtNs_ = 0;
    notedSettings_ = 0;
}

bool SspModel::Running() const {
    return (control0_ & map::kPortControl0Enable) != 0 && clockGate_ && !unmodelled_;
}

bool SspModel::NextEvent(std::uint64_t& ns) const {
    if (shifting_) {
        ns = current_.endNs();
        return true;
    }
    if (Running() && !tx_.empty()) {
        ns = std::max(readyAtNs_, freeAtNs_);
        return true;
    }
    return false;
}

void SspModel::Sync(std::uint64_t now) {
    for (;;) {
        if (shifting_) {
            if (current_.endNs() > now) {
                return;
            }
            shifting_ = false;
            events_.FrameEnded(current_, current_.endNs(), true);
            if (const std::optional<std::uint32_t> in = events_.ReceiveLine(current_)) {
                Receive(*in);
            }
            continue;
        }
        const std::uint64_t start = std::max(readyAtNs_, freeAtNs_);
        if (!Running() || tx_.empty() || start > now) {
            return;
        }
        const std::uint32_t bits = (control0_ & map::kPortControl0DataSize) + 1;
        const std::uint32_t rate = (control0_ & map::kPortControl0ClockRate) >> 8;
        const std::uint64_t bitNs = (rate + 1) * kSspBaseClockNs * std::max<std::uint32_t>(faults_.txSlow, 1);
        current_ = Frame{start, tx_.pop() & ((1u << bits) - 1), bits, bitNs};
        shifting_ = true;
        freeAtNs_ = current_.endNs() + bitNs;
        events_.FrameStarted(current_);
    }
}

void SspModel::Halt(std::uint64_t now) {
    if (shifting_ && !Running()) {
        shifting_ = false;
        freeAtNs_ = now;
        events_.FrameEnded(current_, now, false);
    }
}

void SspModel::SetClockGate(bool open, std::uint64_t now) {
    if (open != clockGate_) {
        clockGate_ = open;
        readyAtNs_ = now;
        Halt(now);
    }
}

void SspModel::Receive(std::uint32_t frame) {
    if (rx_.full()) {
        ++stats.rxDropped;
        overrun_ = true;
        return;
    }
    ++stats.framesReceived;
    rx_.push(frame);
}

void SspModel::CheckSettings() {
    static constexpr const char* kWhat[] = {"a data size below 4 bits", "a frame format other than 0",
                                            "the external clock", "control register 1"};
    const bool found[] = {(control0_ & map::kPortControl0DataSize) < 3,
                          (control0_ & map::kPortControl0FrameFormat) != 0,
                          (control0_ & map::kPortControl0ExternalClock) != 0, control1_ != 0};
    unmodelled_ = false;
    for (unsigned i = 0; i < 4; ++i) {
        if (!found[i]) {
            continue;
        }
        unmodelled_ = true;
        if ((notedSettings_ & (1u << i)) == 0) {
            notedSettings_ |= 1u << i;
            events_.Note(std::string("serial port: ") + kWhat[i] +
                         " is not modelled; the port stands still while it is set");
        }
    }
    stats.unmodelledSettings += unmodelled_ ? 1 : 0;
}

bool SspModel::ReadChangesPort(std::uint32_t offset) {
    return offset == map::kPortData;
}

bool SspModel::Read(std::uint32_t offset, std::uint32_t& value) {
    switch (offset) {
        case map::kPortControl0:
            value = control0_;
            return true;
        case map::kPortControl1:
            value = control1_;
            return true;
        case map::kPortStatus:
            value = Status();
            return true;
        case map::kPortData:
            value = rx_.empty() ? 0 : rx_.pop();
            return true;
        default:
            value = 0;
            return false;
    }
}

bool SspModel::Write(std::uint32_t offset, std::uint32_t value, std::uint64_t now) {
    switch (offset) {
        case map::kPortControl0:
        case map::kPortControl1:
            (offset == map::kPortControl0 ? control0_ : control1_) = value;
            CheckSettings();
            readyAtNs_ = now;
            Halt(now);
            return true;
        case map::kPortStatus:
            if ((value & map::kPortStatusRxOverrun) != 0) {
                overrun_ = false;
            }
            return true;
        case map::kPortData:
            if (tx_.full()) {
                ++stats.txDropped;
            } else {
                tx_.push(value);
                readyAtNs_ = now;
            }
            return true;
        default:
            return false;
    }
}

}  // namespace sim
