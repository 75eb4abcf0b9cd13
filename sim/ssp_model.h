// Synchronous serial port of the simulated board.
//
// A 16-frame transmit FIFO feeds a shifter; a 16-frame receive FIFO takes
// frames from the receive line. While the port is enabled and its clock is
// on, each frame shifts out in (data size) bit times; one further bit time,
// with frame high, separates frames. The bit time is (clock rate + 1) base
// clock periods of kSspBaseClockNs.
//
// Not modelled: frame formats other than SPI-style (format 0), the external
// clock, control register 1's features, interrupts and DMA, and FIFO flush
// on disable. Such settings are counted and noted, and the port then shifts
// as if they were clear. A frame in the shifter always completes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "sim/fifo.h"

namespace sim {

inline constexpr std::size_t kSspFifoDepth = 16;
// Port base clock: 10 MHz, so the default clock rate 6 gives 700 ns bits.
inline constexpr std::uint64_t kSspBaseClockNs = 100;

// One frame on the transmit line.
struct Frame {
    std::uint64_t startNs;  // frame goes low, first bit on the line
    std::uint32_t value;
    std::uint32_t bits;
    std::uint64_t bitNs;
};

struct SspStats {
    std::uint64_t framesSent = 0;      // frames that completed on the transmit line
    std::uint64_t txDropped = 0;       // stores to a full transmit FIFO
    std::uint64_t framesReceived = 0;  // frames taken into the receive FIFO
    std::uint64_t rxDropped = 0;       // frames that met a full receive FIFO
};

class SspModel {
  public:
    struct Faults {
        bool txStuck = false;          // transmit FIFO never reports room
        std::uint32_t slowFactor = 1;  // shifts this many times slower than programmed
    };

    // Callers Sync(now) first, so the FIFOs are as they are at `now`.
    bool Read(std::uint32_t offset, std::uint32_t& value);
    bool Write(std::uint32_t offset, std::uint32_t value, std::uint64_t now);

    // Shifts out every frame due by `now`.
    void Sync(std::uint64_t now);

    void SetClockGate(bool on, std::uint64_t now);
    // Whether frames leaving the transmit line arrive on the receive line.
    void SetLoopback(bool connected) { loopback_ = connected; }
    // A frame arriving on the receive line.
    void Receive(std::uint32_t frame);

    // Status register, derived from the FIFOs: never stored.
    std::uint32_t Status() const;

    std::uint32_t control0() const { return control0_; }
    // Frames accepted but not yet complete on the wire: FIFO and shifter.
    std::size_t txLevel() const { return tx_.size() + (shifting_ ? 1 : 0); }
    std::size_t rxLevel() const { return rx_.size(); }
    bool shifting() const { return shifting_; }
    const Frame& inShifter() const { return current_; }
    std::uint32_t queuedFrame(std::size_t i) const { return tx_.at(i); }
    bool clockGate() const { return clockGate_; }
    // The next time the transmit side changes state, if it is running.
    bool NextEvent(std::uint64_t& ns) const;

    Faults faults;
    SspStats stats;
    std::function<void(const Frame&)> onFrame;
    std::function<void(const std::string&)> note;

  private:
    bool CanShift() const;
    void CheckSettings(std::uint32_t value);

    std::uint32_t control0_ = 0;
    std::uint32_t control1_ = 0;
    bool overrun_ = false;
    bool clockGate_ = false;
    bool loopback_ = false;
    FrameFifo<kSspFifoDepth> tx_;
    FrameFifo<kSspFifoDepth> rx_;
    bool shifting_ = false;
    Frame current_{};
    std::uint64_t shiftEndNs_ = 0;
    std::uint64_t freeAtNs_ = 0;   // shifter may start the next frame
    std::uint64_t readyAtNs_ = 0;  // last change that may let a frame start
};

}  // namespace sim
