// Why a capture does not match: the evidence the words and the lines give,
// weighed into causes, likeliest first. A cause is named only when most of
// what can show it does, and it says how many ("2 of 2,681").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/varkel-check/decode/evidence.h"
#include "tools/varkel-check/decode/words.h"

namespace varkel_check {

// A count with its thousands grouped: "1,204".
std::string Grouped(std::uint64_t n);
// A count and its noun, singular or plural: "1 clock pulse", "8 clock pulses".
std::string Counted(std::uint64_t n, const std::string& one, const std::string& many);

struct Mismatch {
    double seconds = 0;
    unsigned message = 0;  // from 1; 0: not about one message
    unsigned byte = 0;     // from 1; 0: not about one byte
    std::string what;
};

// The faults the checker found holding messages against the expected wire,
// the first of each kind, and how the wrong messages read otherwise.
struct Findings {
    unsigned messages = 0;  // complete messages checked
    unsigned partialMessages = 0;
    Mismatch bitTime;  // its text is written here, from the mean below
    double bitNs = 0, expectedBitNs = 0, bitTolerance = 0;
    bool bitTimed = false;
    Mismatch bitCount, bytes, interval;
    double wrongMessageStart = 0;  // of the first wrong message
    unsigned wrongMessages = 0;
    // Of the wrong messages, those that read right LSB first, sampled on
    // the falling edge, and both.
    unsigned rightLsbFirst = 0, rightOnFall = 0, rightBoth = 0;
};

struct DiagnosisSettings {
    unsigned bits = 8;
    bool selectActiveHigh = false;
    std::size_t messageWords = 9;
};

// The causes, likeliest first; none when the capture matches. Each comes
// from one rule of a table (diagnosis.cpp), one rule to a question.
std::vector<Mismatch> Diagnose(const Framing& framing, const Evidence& lines, const Findings& found,
                               const DiagnosisSettings& settings);

}  // namespace varkel_check
