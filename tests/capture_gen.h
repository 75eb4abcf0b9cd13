// A logic analyser's capture of the port's pins, made from first
// principles for the checker's tests: independent of the simulated
// board's own waveform writer, and able to get things wrong on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WaveSpec {
    std::vector<std::vector<std::uint8_t>> messages;
    double firstStartS = 0.001;
    double intervalS = 1.0;  // from one message's start to the next's
    double bitS = 700e-9;
    double idleBits = 1;  // frame high between frames, in bit times
    bool lsbFirst = false;
    bool otherPhase = false;    // data changes on the rising edge, sampled on the falling
    double dataDelayS = 20e-9;  // a sender's data changes this long after the edge it changes on
    // The frame line ends this long after a frame's last clock edge: 0, as
    // the simulated board's port, or a hold time that keeps a last rising
    // edge (idle high) inside the select.
    double selectHoldS = 0;
    bool clockIdleHigh = false;
    bool frameLineStuck = false;  // the frame pin never leaves its idle level
    bool selectHeld = false;      // the frame pin low from a message's first frame to its last
    double samplePeriodS = 0;     // an analyser's sampling: each edge moves to the next sample
    bool jitter = false;          // and edges wander by up to half a sample first
    std::string timescale = "1ns";
    double tickS = 1e-9;
    std::string scope = "ssp";
    std::string sclk = "sclk", sfrm = "sfrm", txd = "txd";
    double captureStartS = 0;  // the capture's window
    double captureEndS = -1;   // -1: a millisecond after the last frame
};

// The program's message "ZEL NSSP" and a zero byte, `count` times.
std::vector<std::vector<std::uint8_t>> ProgramMessages(int count);

std::string MakeVcd(const WaveSpec& spec);

// A zip archive of stored entries (name, contents), as a sigrok session
// is laid out; `spoilCrc` names an entry whose checksum is written wrong.
std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& entries,
                    const std::string& spoilCrc = "");
