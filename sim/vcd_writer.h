// Value change dump of the port's four pins, written as the run goes.
//
// Four 1-bit wires (readers such as sigrok drop vector signals), timescale
// 1 ns, every signal given under $dumpvars at the start of the dump, and a
// closing timestamp after the last change so a reader keeps the last
// frame. A pin the port does not reach (not routed) shows as z.
//
// Frame format 0: clock idles low; frame goes low for each frame; data
// goes out MSB first, changes on the falling edge and is sampled on the
// rising edge; between frames data returns low. The receive pin shows what
// the receive line carries.
//
// A window limits the dump to [startNs, endNs] of board time: nothing
// outside it is written, and the pins' levels at its start open it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "common/text_sink.h"
#include "sim/board.h"

namespace sim {

class VcdWriter : public BoardListener {
  public:
    struct Window {
        std::uint64_t startNs = 0;
        std::uint64_t endNs = ~std::uint64_t{0};
    };

    VcdWriter(common::TextSink& out, RxdLine rxd, Window window);

    void OnRouting(std::uint64_t ns, const Routing& routing) override;
    void OnFrameStart(const Frame& frame) override;
    void OnFrameEnd(const Frame& frame, std::uint64_t endNs, FrameFate fate) override;
    void OnIdle() override { out_.Flush(); }
    void OnFinish(std::uint64_t ns) override;

  private:
    enum Signal { kSclk, kSfrm, kTxd, kRxd, kSignals };
    struct Edge {
        std::uint64_t ns;
        Signal signal;
        char level;
    };

    void RenderUntil(std::uint64_t ns);
    void Drive(std::uint64_t ns, Signal signal, char level);
    void Update(std::uint64_t ns);
    void Emit(std::uint64_t ns, Signal signal, char level);
    void OpenDump();
    void Timestamp(std::uint64_t ns);

    common::TextSink& out_;
    RxdLine rxd_;
    Window window_;
    Routing routing_;
    std::array<char, kSignals> port_{'0', '1', '0', 'z'};  // what the port drives
    std::array<char, kSignals> pin_{'z', 'z', 'z', 'z'};   // what the pins show
    std::vector<Edge> edges_;                              // of the frame shifting now
    std::size_t nextEdge_ = 0;
    bool opened_ = false;
    std::uint64_t lastNs_ = 0;
};

}  // namespace sim
