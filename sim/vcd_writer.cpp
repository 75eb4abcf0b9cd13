#include "sim/vcd_writer.h"

#include <charconv>
#include <string>

namespace sim {

namespace {

constexpr char kIds[] = {'!', '"', '#', '$'};

}  // namespace

VcdWriter::VcdWriter(OutputFile& out, bool loopback) : out_(out), loopback_(loopback) {
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
        "$enddefinitions $end\n"
        "#0\n"
        "$dumpvars\n"
        "z!\nz\"\nz#\nz$\n"
        "$end\n");
}

void VcdWriter::Timestamp(std::uint64_t ns) {
    char text[24];
    text[0] = '#';
    const auto end = std::to_chars(text + 1, text + sizeof text - 1, ns).ptr;
    *end = '\n';
    out_.Write({text, static_cast<std::size_t>(end + 1 - text)});
}

void VcdWriter::Emit(std::uint64_t ns, Signal signal, char level) {
    if (pin_[signal] == level) {
        return;
    }
    // Routing changes arrive between frames, never inside one, so time only
    // stands still here; the clamp keeps that a promise of the file.
    if (ns > lastNs_) {
        Timestamp(ns);
        lastNs_ = ns;
    }
    pin_[signal] = level;
    const char text[3] = {level, kIds[signal], '\n'};
    out_.Write({text, 3});
}

void VcdWriter::Update(std::uint64_t ns) {
    const bool routed[kSignals] = {routing_.sclk, routing_.sfrm, routing_.txd, false};
    for (int s = kSclk; s <= kTxd; ++s) {
        Emit(ns, static_cast<Signal>(s), routed[s] ? port_[s] : 'z');
    }
    // The jumper makes RXD whatever TXD's pin shows.
    Emit(ns, kRxd, loopback_ ? pin_[kTxd] : 'z');
}

void VcdWriter::Drive(std::uint64_t ns, Signal signal, char level) {
    port_[signal] = level;
    Update(ns);
}

void VcdWriter::OnRouting(std::uint64_t ns, const Routing& routing) {
    routing_ = routing;
    Update(ns);
}

void VcdWriter::OnFrame(const Frame& frame) {
    const std::uint64_t t0 = frame.startNs;
    const std::uint64_t bit = frame.bitNs;
    auto level = [&](std::uint32_t i) {
        return ((frame.value >> (frame.bits - 1 - i)) & 1u) != 0 ? '1' : '0';
    };
    Drive(t0, kSfrm, '0');
    Drive(t0, kTxd, level(0));
    for (std::uint32_t i = 0; i < frame.bits; ++i) {
        Drive(t0 + i * bit + bit / 2, kSclk, '1');
        const std::uint64_t fall = t0 + (i + 1) * bit;
        Drive(fall, kSclk, '0');
        if (i + 1 < frame.bits) {
            Drive(fall, kTxd, level(i + 1));
        }
    }
    const std::uint64_t end = t0 + frame.bits * bit;
    Drive(end, kSfrm, '1');
    Drive(end, kTxd, '0');
}

void VcdWriter::OnFinish(std::uint64_t ns) {
    Timestamp(ns > lastNs_ ? ns : lastNs_ + 1);
}

}  // namespace sim
