// Synchronous serial port of the simulated board.
//
// A 16-frame transmit FIFO feeds a shifter; a 16-frame receive FIFO takes
// a frame from the receive line for each frame shifted out in full. While the port is enabled, its clock gate
// is open and every setting is one the model handles, each frame shifts out in (data size) bit times; one
// further bit time, with frame high, separates frames. The bit time is (clock rate + 1) periods of the 10 MHz
// base clock.
//
// Simplifications:
// - A frame cut short, because the clock gate closes or the enable bit is
//   cleared while it shifts, is abandoned: it never counts as sent, nothing
//   is received for it, and the next frame starts from the FIFO once the
//   port runs again. The FIFOs are not flushed on disable.
// - Settings the model does not handle (a data size below 4 bits, a frame
//   format other than 0, the external clock, any bit of control register 1)
//   are noted once and counted, and the port stands still while one is set:
//   frames wait in the FIFO.
// - No interrupts, DMA, busy flag or FIFO levels beyond not-full and
//   not-empty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/faults.h"
#include "sim/fifo.h"

namespace sim {

inline constexpr std::size_t kSspFifoDepth = 16;
inline constexpr std::uint64_t kSspBaseClockNs = 100;

// One frame as the port shifts it.
struct Frame {
    std::uint64_t startNs;  // frame goes low, first bit on the line
    std::uint32_t value;
    std::uint32_t bits;
    std::uint64_t bitNs;

    std::uint64_t endNs() const { return startNs + bits * bitNs; }
};

// What the port tells the board around it, and its receive-line input.
class SspEvents {
  public:
    virtual void FrameStarted(const Frame& frame) = 0;
    // `complete`: all bits shifted; otherwise cut short at endNs.
    virtual void FrameEnded(const Frame& frame, std::uint64_t endNs, bool complete) = 0;
    // What the receive pin carried while `frame` shifted out in full, or
    // nothing when the pin did not reach the port.
    virtual std::optional<std::uint32_t> ReceiveLine(const Frame& frame) = 0;
    virtual void Note(const std::string& line) = 0;

    virtual ~SspEvents() = default;
};

struct SspStats {
    std::uint64_t txDropped = 0;           // stores to a full transmit FIFO
    std::uint64_t framesReceived = 0;      // frames taken into the receive FIFO
    std::uint64_t rxDropped = 0;           // frames that met a full receive FIFO
    std::uint64_t unmodelledSettings = 0;  // control writes with a setting the model does not handle
};

class SspModel {
  public:
    // Reads txStuck and txSlow from `faults`.
    SspModel(SspEvents& events, const Faults& faults) : events_(events), faults_(faults) {}
    // As at power-on: disabled, FIFOs empty, nothing shifting.
    void Reset();

    // Callers Sync(now) first, so the FIFOs are as they are at `now`.
    bool Read(std::uint32_t offset, std::uint32_t& value);
    bool Write(std::uint32_t offset, std::uint32_t value, std::uint64_t now);
    // Reading this register changes the port (it takes a frame).
    static bool ReadChangesPort(std::uint32_t offset);

    // The one step: shifts frames out up to `now`, takes in from the
    // receive line a frame for each one shifted in full, and keeps the
    // status derived from the FIFOs.
    void Sync(std::uint64_t now);
    // The earliest time after which a read could see a change, or none.
    bool NextEvent(std::uint64_t& ns) const;

    void SetClockGate(bool open, std::uint64_t now);
    // A transmit stall that comes and goes: while on, the transmit FIFO
    // reports no room, as with Faults::txStuck.
    void SetTransmitStall(bool stalled) { stalled_ = stalled; }

    // Status register, derived from the FIFOs: never stored.
    std::uint32_t Status() const;
    // Frames accepted but not yet shifted out in full: FIFO and shifter.
    std::size_t txLevel() const { return tx_.size() + (shifting_ ? 1 : 0); }

    SspStats stats;

  private:
    bool Running() const;
    void Halt(std::uint64_t now);  // cuts the frame in the shifter if the port cannot run
    void CheckSettings();
    void Receive(std::uint32_t frame);  // into the receive FIFO, or an overrun

    SspEvents& events_;
    const Faults& faults_;
    std::uint32_t control0_ = 0;
    std::uint32_t control1_ = 0;
    bool unmodelled_ = false;
    bool overrun_ = false;
    bool clockGate_ = false;
    bool stalled_ = false;
    FrameFifo<kSspFifoDepth> tx_;
    FrameFifo<kSspFifoDepth> rx_;
    bool shifting_ = false;
    Frame current_{};
    std::uint64_t freeAtNs_ = 0;   // shifter may start the next frame
    std::uint64_t readyAtNs_ = 0;  // last change that may let a frame start
    unsigned notedSettings_ = 0;   // kinds of unmodelled setting already noted
};

}  // namespace sim
