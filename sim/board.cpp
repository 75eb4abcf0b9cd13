#include "sim/board.h"

#include <algorithm>
#include <cstdio>

#include "hw/physical_map.h"
#include "ssp/registers.h"

namespace sim {

namespace {

// How often, in board time, a running board looks at its stop flag.
constexpr std::uint64_t kStopCheckNs = 5000000;

Block BlockAt(std::uint64_t physical) {
    switch (physical & phys::kPageMask) {
        case phys::kGpioBase:
            return Block::Gpio;
        case phys::kClockBase:
            return Block::Clock;
        case phys::kSspBase:
            return Block::Ssp;
        default:
            return Block::None;
    }
}

}  // namespace

const char* BlockName(Block block) {
    switch (block) {
        case Block::Gpio:
            return "gpio";
        case Block::Clock:
            return "clock";
        case Block::Ssp:
            return "ssp";
        case Block::None:
            break;
    }
    return "none";
}

const char* RegisterName(Block block, std::uint32_t offset) {
    switch (block) {
        case Block::Gpio:
            return offset == gpio::kDirection64     ? "direction64"
                   : offset == gpio::kAltFunction80 ? "altfn80"
                                                    : nullptr;
        case Block::Clock:
            return offset == clk::kEnable ? "enable" : nullptr;
        case Block::Ssp:
            return offset == ssp::kControl0   ? "control0"
                   : offset == ssp::kControl1 ? "control1"
                   : offset == ssp::kStatus   ? "status"
                   : offset == ssp::kData     ? "data"
                                              : nullptr;
        case Block::None:
            break;
    }
    return nullptr;
}

Board::Board(const BoardOptions& options) : options_(options), clock_(options.time) {
    ssp_.faults.txStuck = options.txStuck;
    ssp_.faults.slowFactor = options.txSlow;
    ssp_.onFrame = [this](const Frame& frame) {
        for (BoardListener* listener : listeners_) {
            listener->OnFrame(frame);
        }
    };
    ssp_.note = [this](const std::string& line) { Note(line); };
    UpdateClockGate(0);
}

void Board::AddListener(BoardListener* listener, bool wantsAccesses) {
    Invalidate();  // a listener that wants every access sees the very next read
    listeners_.push_back(listener);
    if (wantsAccesses) {
        accessListeners_.push_back(listener);
    }
    listener->OnRouting(clock_.Now(), routing_);
}

void Board::Note(const std::string& line) {
    if (std::find(noted_.begin(), noted_.end(), line) != noted_.end()) {
        return;
    }
    noted_.push_back(line);
    if (note) {
        note(line);
    }
}

void Board::Tick() {
    clock_.Access();
    ++accesses_;
    if (clock_.Now() >= nextStopCheckNs_) {
        nextStopCheckNs_ = clock_.Now() + kStopCheckNs;
        if (stopFlag != nullptr && *stopFlag != 0 && onStop) {
            onStop();
        }
    }
}

void Board::Trace(bool write, Block block, std::uint32_t offset, std::uint64_t physical,
                  std::uint32_t value) {
    if (accessListeners_.empty()) {
        return;
    }
    const Access access{clock_.Now(), write, block, offset, physical, value};
    for (BoardListener* listener : accessListeners_) {
        listener->OnAccess(access);
    }
}

std::uint64_t Board::BeginAccess() {
    Invalidate();
    Tick();
    const std::uint64_t now = clock_.Now();
    ssp_.Sync(now);
    return now;
}

void Board::NoteUnknown(bool write, Block block, std::uint64_t physical) {
    ++(block == Block::None ? noDeviceAccesses_ : unknownRegisterAccesses_);
    char line[96];
    std::snprintf(line, sizeof line, "%s of 0x%08llX, where the board has no %s", write ? "write" : "read",
                  static_cast<unsigned long long>(physical), block == Block::None ? "device" : "register");
    Note(line);
}

std::uint32_t Board::ReadSlow(std::uint64_t physical) {
    const std::uint64_t now = BeginAccess();
    const Block block = BlockAt(physical);
    const auto offset = static_cast<std::uint32_t>(physical & (phys::kPageSize - 1));
    std::uint32_t value = 0;
    const bool known = block == Block::Gpio    ? gpio_.Read(offset, value)
                       : block == Block::Clock ? clockManager_.Read(offset, value)
                       : block == Block::Ssp   ? ssp_.Read(offset, value)
                                               : false;
    if (!known) {
        NoteUnknown(false, block, physical);
    }
    Trace(false, block, offset, physical, value);
    if (block == Block::Ssp && offset == ssp::kStatus && clock_.mode() == TimeMode::Virtual &&
        accessListeners_.empty()) {
        std::uint64_t nextEventNs = ~std::uint64_t{0};
        ssp_.NextEvent(nextEventNs);
        // Reads at now + k * kBusAccessNs see this value while before `until`.
        const std::uint64_t until = std::min(nextEventNs, nextStopCheckNs_);
        const std::uint64_t reads = until > now ? (until - now - 1) / kBusAccessNs : 0;
        remembered_ = RememberedStatus{physical, 0, reads, reads, value};
    }
    return value;
}

void Board::Write(std::uint64_t physical, std::uint32_t value) {
    const std::uint64_t now = BeginAccess();
    const Block block = BlockAt(physical);
    const auto offset = static_cast<std::uint32_t>(physical & (phys::kPageSize - 1));
    bool known = false;
    if (block == Block::Gpio) {
        known = gpio_.Write(offset, value);
        UpdateRouting(now);
    } else if (block == Block::Clock) {
        known = clockManager_.Write(offset, value);
        UpdateClockGate(now);
    } else if (block == Block::Ssp) {
        known = ssp_.Write(offset, value, now);
    }
    if (!known) {
        NoteUnknown(true, block, physical);
    }
    Trace(true, block, offset, physical, value);
}

void Board::UpdateRouting(std::uint64_t now) {
    Routing routing;
    routing.sclk = gpio_.Routed(kPinSclk, gpio::kSspFunction, true);
    routing.rxd = gpio_.Routed(kPinRxd, gpio::kSspFunction, false);
    routing.sfrm = gpio_.Routed(kPinSfrm, gpio::kSspFunction, true);
    routing.txd = gpio_.Routed(kPinTxd, gpio::kSspFunction, true);
    ssp_.SetLoopback(options_.loopback && routing.txd && routing.rxd);
    if (routing == routing_) {
        return;
    }
    routing_ = routing;
    for (BoardListener* listener : listeners_) {
        listener->OnRouting(now, routing_);
    }
}

void Board::UpdateClockGate(std::uint64_t now) {
    const bool on = (clockManager_.enable & clk::kEnableSsp) != 0 && !options_.clockOff;
    ssp_.SetClockGate(on, now);
}

void Board::Sleep(std::uint64_t ns) {
    Invalidate();
    if (clock_.mode() == TimeMode::Real) {
        for (BoardListener* listener : listeners_) {
            listener->OnIdle();
        }
    }
    if (!clock_.Sleep(ns, stopFlag) && onStop) {
        onStop();
    }
    ssp_.Sync(clock_.Now());
}

void Board::Finish() {
    Invalidate();
    const std::uint64_t now = clock_.Now();
    ssp_.Sync(now);
    for (BoardListener* listener : listeners_) {
        listener->OnFinish(now);
    }
}

}  // namespace sim
