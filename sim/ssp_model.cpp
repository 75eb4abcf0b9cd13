#include "sim/ssp_model.h"

#include <algorithm>

#include "ssp/registers.h"

namespace sim {

std::uint32_t SspModel::Status() const {
    std::uint32_t status = 0;
    if (!tx_.full() && !faults.txStuck) {
        status |= ssp::kTxNotFull;
    }
    if (!rx_.empty()) {
        status |= ssp::kRxNotEmpty;
    }
    if (overrun_) {
        status |= ssp::kRxOverrun;
    }
    return status;
}

bool SspModel::CanShift() const {
    return (control0_ & ssp::kEnable) != 0 && clockGate_;
}

bool SspModel::NextEvent(std::uint64_t& ns) const {
    if (shifting_) {
        ns = shiftEndNs_;
        return true;
    }
    if (CanShift() && !tx_.empty()) {
        ns = std::max(readyAtNs_, freeAtNs_);
        return true;
    }
    return false;
}

void SspModel::Sync(std::uint64_t now) {
    for (;;) {
        if (shifting_) {
            if (shiftEndNs_ > now) {
                return;
            }
            shifting_ = false;
            ++stats.framesSent;
            if (onFrame) {
                onFrame(current_);
            }
            if (loopback_) {
                Receive(current_.value);
            }
            continue;
        }
        if (!CanShift() || tx_.empty()) {
            return;
        }
        const std::uint64_t start = std::max(readyAtNs_, freeAtNs_);
        if (start > now) {
            return;
        }
        const std::uint32_t bits = (control0_ & ssp::kDataSizeMask) + 1;
        const std::uint32_t rate = (control0_ & ssp::kClockRateMask) >> ssp::kClockRateShift;
        const std::uint64_t bitNs =
            (rate + 1) * kSspBaseClockNs * std::max<std::uint32_t>(faults.slowFactor, 1);
        const std::uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
        current_ = Frame{start, tx_.pop() & mask, bits, bitNs};
        shifting_ = true;
        shiftEndNs_ = start + bits * bitNs;
        freeAtNs_ = shiftEndNs_ + bitNs;
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

void SspModel::SetClockGate(bool on, std::uint64_t now) {
    if (on != clockGate_) {
        clockGate_ = on;
        readyAtNs_ = now;
    }
}

void SspModel::CheckSettings(std::uint32_t value) {
    const char* what = nullptr;
    if ((value & ssp::kFrameFormatMask) != 0) {
        what = "frame format other than SPI-style";
    } else if ((value & ssp::kExternalClock) != 0) {
        what = "external clock source";
    } else if ((value & ssp::kDataSizeMask) < 3) {
        what = "data size below 4 bits";
    }
    if (what != nullptr) {
        if (note) {
            note(std::string("serial port: ") + what + " is not modelled; shifting as format 0");
        }
    }
}

bool SspModel::Read(std::uint32_t offset, std::uint32_t& value) {
    switch (offset) {
        case ssp::kControl0:
            value = control0_;
            return true;
        case ssp::kControl1:
            value = control1_;
            return true;
        case ssp::kStatus:
            value = Status();
            return true;
        case ssp::kData:
            value = rx_.empty() ? 0 : rx_.pop();
            return true;
        default:
            value = 0;
            return false;
    }
}

bool SspModel::Write(std::uint32_t offset, std::uint32_t value, std::uint64_t now) {
    switch (offset) {
        case ssp::kControl0:
            CheckSettings(value);
            control0_ = value;
            readyAtNs_ = now;
            return true;
        case ssp::kControl1:
            control1_ = value;
            return true;
        case ssp::kStatus:
            if ((value & ssp::kRxOverrun) != 0) {
                overrun_ = false;
            }
            return true;
        case ssp::kData:
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
