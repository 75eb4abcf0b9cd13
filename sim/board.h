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

class Board {
  public:
    explicit Board(const BoardOptions& options);

    // One bus access at a physical address. An address where the board has
    // no device is counted and reads as 0.
    //
    // A status register polled in virtual time cannot change before the
    // port's next event, so a repeated read of it is answered from the last
    // value until then: same value, same time cost, same count, no trip
    // through the models. Anything else takes the full path.
    std::uint32_t Read(std::uint64_t physical) {
        if (physical == fastPhysical_ && fastReads_ < fastBudget_) {
            ++fastReads_;  // their time and count are settled on the next full access
            return fastValue_;
        }
        return ReadSlow(physical);
    }
    void Write(std::uint64_t physical, std::uint32_t value);

    // Lets board time pass (virtual: at once; real: sleeping).
    void Sleep(std::uint64_t ns);
    // Brings the models up to now and tells listeners the run has ended.
    void Finish();

    // A listener that wants every register access slows the bus down, so it
    // asks for them.
    void AddListener(BoardListener* listener, bool wantsAccesses = false);
    Routing routing() const { return routing_; }
    std::uint64_t Now() const { return clock_.Now() + fastReads_ * kBusAccessNs; }
    TimeMode timeMode() const { return clock_.mode(); }

    // Direct access to the models, for tests and tools; it may change state
    // behind the bus, so the remembered status is dropped.
    GpioModel& gpio() { return Invalidate(), gpio_; }
    ClockManagerModel& clockManager() { return Invalidate(), clockManager_; }
    SspModel& ssp() { return Invalidate(), ssp_; }
    const SspModel& ssp() const { return ssp_; }

    std::uint64_t accesses() const { return accesses_ + fastReads_; }
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
    // Books the fast reads' time and count, and forgets the remembered status.
    void Invalidate() {
        clock_.virtualNs_ += fastReads_ * kBusAccessNs;
        accesses_ += fastReads_;
        fastReads_ = 0;
        fastBudget_ = 0;
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
    std::uint64_t fastPhysical_ = ~std::uint64_t{0};
    std::uint64_t fastReads_ = 0;   // answered from fastValue_, not yet booked
    std::uint64_t fastBudget_ = 0;  // how many may be; 0: nothing remembered
    std::uint32_t fastValue_ = 0;
    std::vector<std::string> noted_;
};

const char* BlockName(Block block);
// Register name within a block, or null for an offset the board does not model.
const char* RegisterName(Block block, std::uint32_t offset);

}  // namespace sim
