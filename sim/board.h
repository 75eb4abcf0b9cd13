// The simulated board: its clock, its three register blocks at their
// physical addresses, and the serial port's pins.
//
// Pins (alternate function 1 routes them to the port):
//   pin 81  SCLK  serial clock      output
//   pin 82  RXD   receive data      input
//   pin 83  SFRM  frame             output
//   pin 84  TXD   transmit data     output
// A pin carries the port's signal only while it is routed with the right
// direction; otherwise nothing drives it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/clock.h"
#include "sim/clock_model.h"
#include "sim/gpio_model.h"
#include "sim/ssp_model.h"

namespace sim {

inline constexpr std::uint32_t kPinSclk = 81;
inline constexpr std::uint32_t kPinRxd = 82;
inline constexpr std::uint32_t kPinSfrm = 83;
inline constexpr std::uint32_t kPinTxd = 84;

// Which of the port's pins are routed to it.
struct Routing {
    bool sclk = false;
    bool rxd = false;
    bool sfrm = false;
    bool txd = false;
    bool operator==(const Routing&) const = default;
};

enum class Block { Gpio, Clock, Ssp, None };

struct Access {
    std::uint64_t ns;
    bool write;
    Block block;
    std::uint32_t offset;  // within the block
    std::uint64_t physical;
    std::uint32_t value;  // stored, or returned by the read
};

// Sees what happens on the board. Every hook is optional.
class BoardListener {
  public:
    virtual ~BoardListener() = default;
    virtual void OnAccess(const Access&) {}
    virtual void OnFrame(const Frame&) {}
    virtual void OnRouting(std::uint64_t /*ns*/, const Routing&) {}
    virtual void OnFinish(std::uint64_t /*ns*/) {}
    // The board is about to sleep in real time: a good moment to flush.
    virtual void OnIdle() {}
};

struct BoardOptions {
    TimeMode time = TimeMode::Virtual;
    bool txStuck = false;      // transmit FIFO never reports room
    bool clockOff = false;     // the port's clock gate stays off
    std::uint32_t txSlow = 1;  // port shifts this many times slower
    bool loopback = false;     // TXD jumpered to RXD
};

// A status register's last value, answered again while the port cannot
// change it. Each answer is one read: it uses up one of `left`, and the
// board books its time and count on its next full access.
struct RememberedStatus {
    std::uint64_t physical = ~std::uint64_t{0};
    // The address the bus in front of the board reads this register at, once
    // it has said so; 0 until then, and whenever the status changes.
    std::uintptr_t busAddress = 0;
    std::uint64_t granted = 0;  // reads allowed when it was remembered
    std::uint64_t left = 0;     // of those, not yet answered; 0: none
    std::uint32_t value = 0;

    std::uint64_t answered() const { return granted - left; }
    bool Take(std::uint32_t& out) {
        if (left == 0) {
            return false;
        }
        --left;
        out = value;
        return true;
    }
};

class Board {
  public:
    explicit Board(const BoardOptions& options);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // One bus access at a physical address. An address where the board has
    // no device is counted and reads as 0.
    //
    // A status register polled in virtual time cannot change before the
    // port's next event, so a repeated read of it is answered from the last
    // value until then: same value, same time cost, same count, no trip
    // through the models. Anything else takes the full path.
    std::uint32_t Read(std::uint64_t physical) {
        std::uint32_t value = 0;
        return physical == remembered_.physical && remembered_.Take(value) ? value : ReadSlow(physical);
    }
    void Write(std::uint64_t physical, std::uint32_t value);

    // For the bus in front of the board, which may answer a poll's repeated
    // reads from it itself (and stamp it with its own address for the
    // register). It may take several answers before it writes `left` back,
    // as long as nothing else touches the board in between.
    RememberedStatus& rememberedStatus() { return remembered_; }

    // Lets board time pass (virtual: at once; real: sleeping).
    void Sleep(std::uint64_t ns);
    // Brings the models up to now and tells listeners the run has ended.
    void Finish();

    // A listener that wants every register access slows the bus down, so it
    // asks for them.
    void AddListener(BoardListener* listener, bool wantsAccesses = false);
    Routing routing() const { return routing_; }
    std::uint64_t Now() const { return clock_.Now() + remembered_.answered() * kBusAccessNs; }
    TimeMode timeMode() const { return clock_.mode(); }

    // Direct access to the models, for tests and tools; it may change state
    // behind the bus, so the remembered status is dropped.
    GpioModel& gpio() { return Invalidate(), gpio_; }
    ClockManagerModel& clockManager() { return Invalidate(), clockManager_; }
    SspModel& ssp() { return Invalidate(), ssp_; }
    const SspModel& ssp() const { return ssp_; }

    std::uint64_t accesses() const { return accesses_ + remembered_.answered(); }
    std::uint64_t noDeviceAccesses() const { return noDeviceAccesses_; }
    // Accesses to a device's page at an offset the board does not model.
    std::uint64_t unknownRegisterAccesses() const { return unknownRegisterAccesses_; }

    // Checked while the board runs; when it reads nonzero, onStop is called
    // (it does not return, as a rule).
    const volatile int* stopFlag = nullptr;
    std::function<void()> onStop;
    // One line for each oddity the board notices, the first time it does.
    std::function<void(const std::string&)> note;

  private:
    [[gnu::noinline]] std::uint32_t ReadSlow(std::uint64_t physical);
    // Books the remembered reads' time and count, and forgets the status.
    void Invalidate() {
        const std::uint64_t answered = remembered_.answered();
        clock_.virtualNs_ += answered * kBusAccessNs;
        accesses_ += answered;
        remembered_.granted = 0;
        remembered_.left = 0;
    }
    void Tick();
    // Books the access's time, brings the port up to it and returns it.
    std::uint64_t BeginAccess();
    void NoteUnknown(bool write, Block block, std::uint64_t physical);
    void UpdateRouting(std::uint64_t now);
    void UpdateClockGate(std::uint64_t now);
    void Trace(bool write, Block block, std::uint32_t offset, std::uint64_t physical, std::uint32_t value);
    void Note(const std::string& line);

    BoardOptions options_;
    Clock clock_;
    GpioModel gpio_;
    ClockManagerModel clockManager_;
    SspModel ssp_;
    Routing routing_;
    std::vector<BoardListener*> listeners_;
    std::vector<BoardListener*> accessListeners_;
    std::uint64_t accesses_ = 0;
    std::uint64_t noDeviceAccesses_ = 0;
    std::uint64_t unknownRegisterAccesses_ = 0;
    std::uint64_t nextStopCheckNs_ = 0;
    RememberedStatus remembered_;
    std::vector<std::string> noted_;
};

const char* BlockName(Block block);
// Register name within a block, or null for an offset the board does not model.
const char* RegisterName(Block block, std::uint32_t offset);

}  // namespace sim
