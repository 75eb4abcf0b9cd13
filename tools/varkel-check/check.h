// Holds the frames read off a capture against what the program sends:
// "ZEL NSSP" and a zero byte, nine 8-bit frames, MSB first, sampled on the
// rising clock edge, one message a second.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/varkel-check/capture.h"
#include "tools/varkel-check/frames.h"

namespace check {

struct Expectation {
    std::vector<std::uint8_t> message = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};
    unsigned bits = 8;              // a word's width
    bool selectActiveHigh = false;  // the program's port pulls its frame line low
    double portClockHz = 10e6;      // the simulated board's base clock
    unsigned clockRate = 6;         // the program's clock-rate setting
    double bitTolerance = 0.05;
    double intervalSeconds = 1.0;
    double intervalTolerance = 0.005;

    double BitSeconds() const { return (clockRate + 1) / portClockHz; }
};

struct Mismatch {
    double seconds = 0;
    unsigned message = 0;  // from 1; 0: not about one message
    unsigned byte = 0;     // from 1; 0: not about one byte
    std::string what;
};

struct Report {
    bool match = false;
    Mismatch mismatch;
    unsigned messages = 0;  // complete messages checked
    std::uint64_t frames = 0;
    unsigned partialFramesAtStart = 0, partialFramesAtEnd = 0;
    unsigned partialMessagesAtStart = 0, partialMessagesAtEnd = 0;
    double bitNs = 0, bitNsMin = 0, bitNsMax = 0, expectedBitNs = 0;
    unsigned intervals = 0;
    double intervalMs = 0, intervalMsMin = 0, intervalMsMax = 0;
    // How the capture framed its words: a select period each, or several
    // to a period; select periods that ended inside a word.
    std::uint64_t wordsAlone = 0, wordsShared = 0, partialWords = 0;
    // Bits whose data changed on their clock edge's own sample.
    std::uint64_t bitsChangedOnEdgeSample = 0;
};

// A count with its thousands grouped: "1,204".
std::string Grouped(std::uint64_t n);

// Takes frames as the decoder finds them; holds only one message at a time.
class Checker {
  public:
    Checker(const Expectation& expectation, const CaptureInfo& info);
    void Add(const WireFrame& frame);
    // Ends the check; the decoder says what the lines did beyond words.
    Report Finish(const LineActivity& lines);

  private:
    void CloseGroup(bool last);
    void CheckMessage(const std::vector<WireFrame>& frames);
    void Note(double seconds, unsigned message, unsigned byte, const std::string& what, Mismatch& into);
    double Seconds(std::uint64_t tick) const { return static_cast<double>(tick) * secondsPerTick_; }

    Expectation expect_;
    double secondsPerTick_;
    Report report_;
    std::vector<WireFrame> group_;
    unsigned groups_ = 0;
    double bitSum_ = 0;
    std::uint64_t bitCount_ = 0;
    double intervalSum_ = 0;
    bool havePreviousStart_ = false;
    std::uint64_t previousStart_ = 0;
    // The first fault of each kind, to pick the likeliest cause at the end.
    Mismatch badBitTime_, badBitCount_, badBytes_, badInterval_;
    std::uint64_t idleHighFrames_ = 0;
    std::uint64_t phaseFrames_ = 0, phaseHintFrames_ = 0;  // frames that show where their data changes
    std::uint64_t otherPhaseFrames_ = 0;                   // whose data changes mostly at a rising edge
    std::uint64_t framesChangingOnRise_ = 0;               // the same, seen only on the edges' own samples
    std::uint64_t framesSeen_ = 0;
    double badBytesMessageStart_ = 0;
    // Messages whose bytes were wrong as sent, and how many of those read
    // right under each other reading (LSB first, other phase, both).
    unsigned wrongMessages_ = 0;
    unsigned rightLsbFirst_ = 0, rightOtherPhase_ = 0, rightBoth_ = 0;
    std::uint64_t dataAtRise_ = 0, dataAtFall_ = 0;
};

}  // namespace check
