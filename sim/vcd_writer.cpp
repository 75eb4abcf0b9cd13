#include "sim/vcd_writer.h"

#include <charconv>
#include <string>

namespace sim {

namespace {

constexpr char kIds[] = {'!', '"', '#', '$'};

}  // namespace

VcdWriter::VcdWriter(common::TextSink& out, RxdLine rxd, Window window)
    : out_(out), rxd_(rxd), window_(window) {
    out_.Write(
        "$version varkel-sim $end\n"
        "$comment serial port pins: sclk=pin 81, sfrm=pin 83, txd=pin 84, rxd=pin 82 $end\n"
        "$timescale 1ns $end\n"
        "$scope module ssp $end\n"
        "$var wire 1 ! sclk $end\n"
        "$var wire 1 \" sfrm $end\n"
        "$var wire 1 # txd $end\n"
        "$var wire 1 $ rxd $end\n"
        "$upscope $end\n"
        "$enddefinitions $end\n");
    pin_[kRxd] = rxd == RxdLine::High ? '1' : rxd == RxdLine::Low ? '0' : 'z';
}

void VcdWriter::Timestamp(std::uint64_t ns) {
    char text[24];
    text[0] = '#';
    const auto end = std::to_chars(text + 1, text + sizeof text - 1, ns).ptr;
    *end = '\n';
    out_.Write({text, static_cast<std::size_t>(end + 1 - text)});
    lastNs_ = ns;
}

void VcdWriter::OpenDump() {
    if (opened_) {
        return;
    }
    opened_ = true;
    Timestamp(window_.startNs);
    std::string dump = "$dumpvars\n";
    for (std::size_t s = 0; s < kSignals; ++s) {
        dump += {pin_[s], kIds[s], '\n'};
    }
    out_.Write(dump + "$end\n");
}

void VcdWriter::Emit(std::uint64_t ns, Signal signal, char level) {
    if (pin_[signal] == level) {
        return;
    }
    if (ns >= window_.startNs && ns <= window_.endNs) {
        OpenDump();
        if (ns > lastNs_) {
            Timestamp(ns);
        }
        const char text[3] = {level, kIds[signal], '\n'};
        out_.Write({text, 3});
    }
    pin_[signal] = level;
}

void VcdWriter::Update(std::uint64_t ns) {
    const bool routed[] = {routing_.sclk, routing_.sfrm, routing_.txd};
    for (const Signal s : {kSclk, kSfrm, kTxd}) {
        Emit(ns, s, routed[s] ? port_[s] : 'z');
    }
    if (rxd_ == RxdLine::Loopback) {
        Emit(ns, kRxd, pin_[kTxd]);  // the jumper makes RXD whatever TXD's pin shows
    }
}

void VcdWriter::Drive(std::uint64_t ns, Signal signal, char level) {
    port_[signal] = level;
    Update(ns);
}

void VcdWriter::RenderUntil(std::uint64_t ns) {
    for (; nextEdge_ < edges_.size() && edges_[nextEdge_].ns <= ns; ++nextEdge_) {
        Drive(edges_[nextEdge_].ns, edges_[nextEdge_].signal, edges_[nextEdge_].level);
    }
}

void VcdWriter::OnRouting(std::uint64_t ns, const Routing& routing) {
    RenderUntil(ns);
    routing_ = routing;
    Update(ns);
}

void VcdWriter::OnFrameStart(const Frame& frame) {
    RenderUntil(frame.startNs);
    const std::uint64_t t0 = frame.startNs;
    const std::uint64_t bit = frame.bitNs;
    auto level = [&](std::uint32_t i) {
        return ((frame.value >> (frame.bits - 1 - i)) & 1u) != 0 ? '1' : '0';
    };
    edges_.assign({{t0, kSfrm, '0'}, {t0, kTxd, level(0)}});
    for (std::uint32_t i = 0; i < frame.bits; ++i) {
        edges_.push_back({t0 + i * bit + bit / 2, kSclk, '1'});
        edges_.push_back({t0 + (i + 1) * bit, kSclk, '0'});
        if (i + 1 < frame.bits) {
            edges_.push_back({t0 + (i + 1) * bit, kTxd, level(i + 1)});
        }
    }
    nextEdge_ = 0;
}

void VcdWriter::OnFrameEnd(const Frame& /*frame*/, std::uint64_t endNs, FrameFate /*fate*/) {
    RenderUntil(endNs);
    Drive(endNs, kSclk, '0');
    Drive(endNs, kSfrm, '1');
    Drive(endNs, kTxd, '0');
    edges_.clear();
    nextEdge_ = 0;
}

void VcdWriter::OnFinish(std::uint64_t ns) {
    RenderUntil(ns);
    OpenDump();
    const std::uint64_t end = ns < window_.endNs ? ns : window_.endNs;
    Timestamp(end > lastNs_ ? end : lastNs_ + 1);
}

}  // namespace sim
