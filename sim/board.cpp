#include "sim/board.h"

#include <algorithm>
#include <cstdio>

#include "sim/board_map.h"

namespace sim {

Board::Board(const BoardOptions& options)
    : options_(options), time_(options.time), gpio_(options_.faults), port_(*this, options_.faults) {
    gpio_.Reset();
    clockManager_.Reset();
    port_.Reset();
    port_.SetClockGate(PortClockOpen(), 0);
}

Board::Target Board::Decode(std::uint64_t physical) {
    const std::uint64_t page = physical & ~(map::kPageBytes - 1);
    const auto offset = static_cast<std::uint32_t>(physical - page);
    const Block block = page == map::kGpioBlock           ? Block::Gpio
                        : page == map::kClockManagerBlock ? Block::ClockManager
                        : page == map::kSerialPortBlock   ? Block::SerialPort
                                                          : Block::None;
    return {block, offset};
}

void Board::AddListener(BoardListener* listener) {
    listeners_.push_back(listener);
    listener->OnRouting(time_.Now(), routing_);
}

void Board::Note(const std::string& line) {
    if (std::find(noted_.begin(), noted_.end(), line) == noted_.end()) {
        noted_.push_back(line);
        if (onNote) {
            onNote(line);
        }
    }
}

void Board::Notify(const Access& access) {
    for (BoardListener* listener : listeners_) {
        listener->OnAccess(access);
    }
}

std::uint32_t Board::Read(std::uint64_t physical) {
    return BusAccess(false, physical, 0);
}

void Board::Write(std::uint64_t physical, std::uint32_t value) {
    BusAccess(true, physical, value);
}

std::uint32_t Board::BusAccess(bool write, std::uint64_t physical, std::uint32_t value) {
    time_.Advance(kBusAccessNs);
    ++stats_.accesses;
    const std::uint64_t now = time_.Now();
    port_.Sync(now);
    const Target target = Decode(physical);
    bool known = false;
    switch (target.block) {
        case Block::Gpio:
            known = write ? gpio_.Write(target.offset, value) : gpio_.Read(target.offset, value);
            break;
        case Block::ClockManager:
            known =
                write ? clockManager_.Write(target.offset, value) : clockManager_.Read(target.offset, value);
            break;
        case Block::SerialPort:
            known = write ? port_.Write(target.offset, value, now) : port_.Read(target.offset, value);
            break;
        case Block::None:
            value = write ? value : 0;
            break;
    }
    lastAccessMissed_ = !known;
    if (!known) {
        CountMissed(target.block == Block::None ? Miss::NoDevice : Miss::NoRegister, 1);
        char line[96];
        std::snprintf(line, sizeof line, "%s of 0x%08llX, where the board has no %s",
                      write ? "write" : "read", static_cast<unsigned long long>(physical),
                      target.block == Block::None ? "device" : "register");
        Note(line);
    }
    Notify(Access{now, write, target.block, target.offset, physical, value});
    if (write && target.block == Block::Gpio) {
        UpdateRouting(now);
    } else if (write && target.block == Block::ClockManager) {
        port_.SetClockGate(PortClockOpen(), now);
    }
    return value;
}

void Board::CountMissed(Miss miss, std::uint64_t count) {
    (miss == Miss::NoBinding  ? stats_.strayAccesses
     : miss == Miss::NoDevice ? stats_.noDeviceAccesses
                              : stats_.unknownRegisterAccesses) += count;
}

void Board::Unbound(std::uint64_t address, bool write, std::uint64_t count) {
    if (stats_.strayAccesses == 0) {
        char line[128];
        std::snprintf(line, sizeof line, "register %s at 0x%llX, which no window binds (not reported again)",
                      write ? "write" : "read", static_cast<unsigned long long>(address));
        Note(line);
    }
    CountMissed(Miss::NoBinding, count);
}

std::uint64_t Board::UnchangedReads(std::uint64_t physical, std::uint64_t reads) const {
    const Target target = Decode(physical);
    if (time_.mode() != TimeMode::Virtual || options_.oneReadAtATime ||
        (target.block == Block::SerialPort && SspModel::ReadChangesPort(target.offset))) {
        return 0;
    }
    // Registers change only by a write or by the port's next event, so
    // reads at now + k * kBusAccessNs before that event see the same value;
    // where there is no register, they read 0 throughout.
    std::uint64_t next = ~std::uint64_t{0};
    port_.NextEvent(next);
    const std::uint64_t now = time_.Now();
    return std::min(reads, next > now ? (next - now - 1) / kBusAccessNs : 0);
}

bool Board::Poll(std::uint64_t physical, std::uint32_t mask, std::uint64_t reads) {
    while (reads > 0) {
        const std::uint32_t value = Read(physical);
        --reads;
        if ((value & mask) != 0) {
            return true;
        }
        const std::uint64_t same = UnchangedReads(physical, reads);
        if (same > 0) {
            const Target target = Decode(physical);
            const Access run{
                time_.Now() + kBusAccessNs, false, target.block, target.offset, physical, value, same};
            time_.Advance(same * kBusAccessNs);
            stats_.accesses += same;
            if (lastAccessMissed_) {
                CountMissed(target.block == Block::None ? Miss::NoDevice : Miss::NoRegister, same);
            }
            reads -= same;
            Notify(run);
        }
    }
    return false;
}

void Board::SetTransmitStuck(bool stuck) {
    port_.SetTransmitStall(stuck);
}

void Board::UpdateRouting(std::uint64_t now) {
    auto routed = [&](std::uint32_t pin, bool output) {
        return gpio_.Function(pin) == map::kSerialPortFunction && gpio_.IsOutput(pin) == output;
    };
    const Routing routing{routed(map::kPinSerialClock, true), routed(map::kPinReceiveData, false),
                          routed(map::kPinFrame, true), routed(map::kPinTransmitData, true)};
    if (routing == routing_) {
        return;
    }
    routing_ = routing;
    frameTxdRouted_ = frameTxdRouted_ && routing.txd;
    frameRxdRouted_ = frameRxdRouted_ && routing.rxd;
    for (BoardListener* listener : listeners_) {
        listener->OnRouting(now, routing_);
    }
}

void Board::FrameStarted(const Frame& frame) {
    frameTxdRouted_ = routing_.txd;
    frameRxdRouted_ = routing_.rxd;
    for (BoardListener* listener : listeners_) {
        listener->OnFrameStart(frame);
    }
}

void Board::FrameEnded(const Frame& frame, std::uint64_t endNs, bool complete) {
    const FrameFate fate = !complete         ? FrameFate::Cut
                           : frameTxdRouted_ ? FrameFate::OnWire
                                             : FrameFate::Unrouted;
    frameOnWire_ = fate == FrameFate::OnWire;
    ++(fate == FrameFate::OnWire ? stats_.framesOnWire
       : fate == FrameFate::Cut  ? stats_.framesCut
                                 : stats_.framesUnrouted);
    for (BoardListener* listener : listeners_) {
        listener->OnFrameEnd(frame, endNs, fate);
    }
}

std::optional<std::uint32_t> Board::ReceiveLine(const Frame& frame) {
    if (!frameRxdRouted_) {
        return std::nullopt;
    }
    // An undriven line reads high, like an unconnected pin.
    const std::uint32_t ones = (1u << frame.bits) - 1;
    return options_.rxd == RxdLine::Low                        ? 0
           : options_.rxd == RxdLine::Loopback && frameOnWire_ ? frame.value
                                                               : ones;
}

bool Board::Sleep(std::uint64_t ns) {
    for (BoardListener* listener : listeners_) {
        listener->OnPause();
    }
    if (time_.mode() == TimeMode::Real) {
        for (BoardListener* listener : listeners_) {
            listener->OnIdle();
        }
    }
    const bool slept = time_.Sleep(ns);
    port_.Sync(time_.Now());
    return slept;
}

void Board::Finish() {
    const std::uint64_t now = time_.Now();
    port_.Sync(now);
    for (BoardListener* listener : listeners_) {
        listener->OnFinish(now);
    }
}

}  // namespace sim
