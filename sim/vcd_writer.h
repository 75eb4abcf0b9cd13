// Value change dump of the port's four pins, written as the run goes.
//
// Four 1-bit wires (readers such as sigrok drop vector signals), timescale
// 1 ns, every signal given under $dumpvars at time 0, and a closing
// timestamp after the last change so a reader keeps the last frame. A pin
// that is not routed to the port shows as z (not driven).
//
// Frame format 0 (SPI-style): clock idles low; frame goes low for each
// frame; data goes out MSB first, changes on the falling edge and is
// sampled on the rising edge; between frames data returns low.
#pragma once

#include <array>
#include <cstdint>

#include "sim/board.h"
#include "sim/output_file.h"

namespace sim {

class VcdWriter : public BoardListener {
  public:
    VcdWriter(OutputFile& out, bool loopback);

    void OnRouting(std::uint64_t ns, const Routing& routing) override;
    void OnIdle() override { out_.Flush(); }
    void OnFrame(const Frame& frame) override;
    void OnFinish(std::uint64_t ns) override;

  private:
    enum Signal { kSclk, kSfrm, kTxd, kRxd, kSignals };

    void Drive(std::uint64_t ns, Signal signal, char level);
    void Update(std::uint64_t ns);
    void Emit(std::uint64_t ns, Signal signal, char level);
    void Timestamp(std::uint64_t ns);

    OutputFile& out_;
    bool loopback_;
    Routing routing_;
    std::array<char, kSignals> port_{'0', '1', '0', 'z'};  // what the port drives
    std::array<char, kSignals> pin_{'z', 'z', 'z', 'z'};   // what the pins show
    std::uint64_t lastNs_ = 0;
};

}  // namespace sim
