// The simulated board: its time, its three register blocks at their
// physical addresses, and the serial port's pins and lines.
//
// A pin carries the port's signal only while the GPIO block routes it to
// the port (alternate function 1) with the right direction; otherwise the
// port's signal does not reach it. A frame is on the wire only if the
// transmit pin was routed for the whole frame. The port clocks in one frame
// for each frame it shifts out while its receive pin is routed as an input;
// what it clocks in is what the receive line carries (RxdLine).
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/board_time.h"
#include "sim/clock_manager_model.h"
#include "sim/gpio_model.h"
#include "sim/ssp_model.h"

namespace sim {

// Which of the port's pins are routed to it.
struct Routing {
    bool sclk = false;
    bool rxd = false;
    bool sfrm = false;
    bool txd = false;
    bool operator==(const Routing&) const = default;
};

// What the receive line carries. An unconnected pin on this board reads
// high (its pull-up), so that is the default: frames of all ones.
enum class RxdLine { High, Low, Loopback };

enum class Block { Gpio, ClockManager, SerialPort, None };

// One register access, or a run of `count` identical reads of one
// register, kBusAccessNs apart from `ns` on, handed over as one event.
struct Access {
    std::uint64_t ns;
    bool write;
    Block block;
    std::uint32_t offset;  // within the block
    std::uint64_t physical;
    std::uint32_t value;  // stored, or returned by the read
    std::uint64_t count = 1;
};

enum class FrameFate {
    OnWire,    // shifted in full with the transmit pin routed throughout
    Unrouted,  // shifted in full, but the transmit pin was not routed all along
    Cut,       // cut short by the clock gate or the enable bit
};

// Sees what happens on the board, in time order. Every hook is optional.
class BoardListener {
  public:
    virtual ~BoardListener() = default;
    virtual void OnAccess(const Access&) {}
    virtual void OnFrameStart(const Frame&) {}
    virtual void OnFrameEnd(const Frame&, std::uint64_t /*endNs*/, FrameFate) {}
    virtual void OnRouting(std::uint64_t /*ns*/, const Routing&) {}
    // The board is about to sleep in real time: a good moment to flush.
    virtual void OnIdle() {}
    // The program pauses, in either time: so few a run that anything may.
    virtual void OnPause() {}
    virtual void OnFinish(std::uint64_t /*ns*/) {}
};

struct BoardOptions {
    TimeMode time = TimeMode::Virtual;
    RxdLine rxd = RxdLine::High;
    Faults faults = {};
    // Answer every read of a wait on its own, never several in one step.
    bool oneReadAtATime = false;
};

struct BoardStats {
    std::uint64_t accesses = 0;
    std::uint64_t noDeviceAccesses = 0;         // where the board has no device
    std::uint64_t unknownRegisterAccesses = 0;  // in a device's page, where it has no register
    std::uint64_t strayAccesses = 0;            // at a program address no window binds
    std::uint64_t framesOnWire = 0;
    std::uint64_t framesUnrouted = 0;  // shifted with the transmit pin unrouted
    std::uint64_t framesCut = 0;
};

class Board : private SspEvents {
  public:
    explicit Board(const BoardOptions& options);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // One bus access at a physical address. An address where the board has
    // no device or no register is counted, noted once, and reads as 0.
    std::uint32_t Read(std::uint64_t physical);
    void Write(std::uint64_t physical, std::uint32_t value);

    // A bounded wait: reads `physical` until (value & mask) != 0, at most
    // `reads` times, and says whether the bit was seen. Time, counts and
    // listeners see exactly what `reads` separate Read calls would show;
    // reads that cannot see a change (before the port's next event, of a
    // register whose read has no side effect, in virtual time) are
    // answered in one step.
    bool Poll(std::uint64_t physical, std::uint32_t mask, std::uint64_t reads);
    // How many of `reads` further reads of `physical`, from now on, would
    // see no change and could be answered ahead: none in real time or
    // where a read changes the port; otherwise those before the port's
    // next event.
    std::uint64_t UnchangedReads(std::uint64_t physical, std::uint64_t reads) const;
    // `count` accesses the bus could not translate: at a program address no
    // window binds. They reach nothing and take no bus time; the first is
    // noted.
    void Unbound(std::uint64_t address, bool write, std::uint64_t count);

    // A stall that comes and goes: while on, the transmit FIFO reports no
    // room, as with Faults::txStuck.
    void SetTransmitStuck(bool stuck);
    // Lets board time pass (virtual: at once; real: sleeping). False when
    // a stop (common/stop.h) cut a real sleep short.
    bool Sleep(std::uint64_t ns);
    // Brings the port up to now and tells listeners the run has ended.
    void Finish();

    void AddListener(BoardListener* listener);
    // One line for each oddity the board notices, the first time it does.
    std::function<void(const std::string&)> onNote;

    std::uint64_t Now() const { return time_.Now(); }
    TimeMode timeMode() const { return time_.mode(); }
    Routing routing() const { return routing_; }
    const BoardStats& stats() const { return stats_; }
    const SspStats& portStats() const { return port_.stats; }
    // Frames stored and not yet shifted out in full.
    std::size_t framesQueued() const { return port_.txLevel(); }

    // The models, for tests that set a register behind the bus's back.
    GpioModel& gpio() { return gpio_; }
    ClockManagerModel& clockManager() { return clockManager_; }

  private:
    struct Target {
        Block block;
        std::uint32_t offset;
    };
    static Target Decode(std::uint64_t physical);

    std::uint32_t BusAccess(bool write, std::uint64_t physical, std::uint32_t value);
    // Accesses that reached nothing: no binding, no device, or no register
    // in a device. Each idea is counted here and only here.
    enum class Miss { NoBinding, NoDevice, NoRegister };
    void CountMissed(Miss miss, std::uint64_t count);
    void UpdateRouting(std::uint64_t now);
    void Notify(const Access& access);

    void FrameStarted(const Frame& frame) override;
    void FrameEnded(const Frame& frame, std::uint64_t endNs, bool complete) override;
    std::optional<std::uint32_t> ReceiveLine(const Frame& frame) override;
    void Note(const std::string& line) override;
    // The port's clock gate: its enable bit, unless the clock-off fault holds it closed.
    bool PortClockOpen() const { return clockManager_.SerialPortClockOn() && !options_.faults.clockOff; }

    BoardOptions options_;  // its faults are the ones every model reads
    BoardTime time_;
    GpioModel gpio_;
    ClockManagerModel clockManager_;
    SspModel port_;
    Routing routing_;
    bool frameOnWire_ = false;     // the frame that ended last reached the wire
    bool frameTxdRouted_ = false;  // the shifting frame's pins have been routed all along
    bool frameRxdRouted_ = false;
    bool lastAccessMissed_ = false;  // the last access found no register
    std::vector<BoardListener*> listeners_;
    BoardStats stats_;
    std::vector<std::string> noted_;
};

}  // namespace sim
