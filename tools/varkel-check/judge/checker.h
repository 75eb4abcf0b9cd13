// Holds the words read off a capture against what the program sends:
// "ZEL NSSP" and a zero byte, nine 8-bit words, MSB first, sampled on the
// rising clock edge, one message a second.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/varkel-check/capture/capture.h"
#include "tools/varkel-check/decode/words.h"
#include "tools/varkel-check/judge/diagnosis.h"

namespace varkel_check {

// The program's message: "ZEL NSSP" and a zero byte.
inline constexpr std::uint8_t kProgramMessage[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};

// The program's message as its port sends it in words of `bits` bits: each
// byte stored whole into the data register, so zero-extended in wider
// words and cut to its low bits in narrower ones.
std::vector<std::uint32_t> ProgramWords(unsigned bits);

struct Expectation {
    std::vector<std::uint32_t> message = ProgramWords(8);  // words of `bits` bits, compared whole
    unsigned bits = 8;                                     // a word's width
    bool selectActiveHigh = false;                         // the program's port pulls its frame line low
    double portClockHz = 10e6;                             // the simulated board's base clock
    unsigned clockRate = 6;                                // the program's clock-rate setting
    double bitTolerance = 0.05;
    double intervalSeconds = 1.0;
    double intervalTolerance = 0.005;

    double BitSeconds() const { return (clockRate + 1) / portClockHz; }
};

struct Report {
    bool match = false;
    Mismatch mismatch;             // the likeliest cause
    std::vector<Mismatch> causes;  // all of them, likeliest first
    unsigned messages = 0;         // complete messages checked
    std::uint64_t frames = 0;      // whole words in the complete messages
    std::uint64_t framesCut = 0;   // words in them a select period ended inside
    unsigned partialFramesAtStart = 0, partialFramesAtEnd = 0;
    unsigned partialMessagesAtStart = 0, partialMessagesAtEnd = 0;
    double bitNs = 0, bitNsMin = 0, bitNsMax = 0, expectedBitNs = 0;
    bool bitTimed = false;  // some word had two rising edges to time
    unsigned intervals = 0;
    double intervalMs = 0, intervalMsMin = 0, intervalMsMax = 0;
    // How the capture framed its words: a select period each, or several
    // to a period; select periods that ended inside a word.
    std::uint64_t wordsAlone = 0, wordsShared = 0, partialWords = 0;
    // Bits whose data changed on their clock edge's own sample.
    std::uint64_t bitsChangedOnEdgeSample = 0;
    // Select periods that opened or closed on a clock edge's own sample, and
    // the words lost so (read as sigrok reads them).
    std::uint64_t selectOpenedOnEdge = 0, selectClosedOnEdge = 0, wordsLostAtClose = 0;
    // Words whose data changes show the clock's phase, and those whose
    // changes the sampling may have placed.
    std::uint64_t wordsWithPhase = 0, wordsPhaseUnclear = 0;
};

// Takes words as the decoder finds them; holds only one message at a time.
class Checker {
  public:
    // Sees each wrong message as it is judged: its first and last tick.
    using OnWrongMessage = std::function<void(std::uint64_t startTick, std::uint64_t endTick)>;

    // `secondsPerTick`: the capture's time unit.
    Checker(const Expectation& expectation, double secondsPerTick, OnWrongMessage onWrongMessage = {});
    void Add(const Word& word);
    // Ends the check, with how the words were framed and what the lines
    // showed beyond them.
    Report Finish(const Framing& framing, const Evidence& lines);
    unsigned messagesSoFar() const { return report_.messages; }

  private:
    void CloseGroup(bool last);
    void CheckMessage(const std::vector<Word>& words);
    void Note(double seconds, unsigned message, unsigned byte, const std::string& what, Mismatch& into);
    double Seconds(std::uint64_t tick) const { return static_cast<double>(tick) * secondsPerTick_; }

    Expectation expect_;
    double secondsPerTick_;
    OnWrongMessage onWrongMessage_;
    Report report_;
    std::vector<Word> group_;
    unsigned groups_ = 0;
    double bitSum_ = 0;
    std::uint64_t bitCount_ = 0;
    double intervalSum_ = 0;
    bool havePreviousStart_ = false;
    std::uint64_t previousStart_ = 0;
    Findings found_;
    bool messageWrong_ = false;  // the message being judged showed a fault
};

}  // namespace varkel_check
