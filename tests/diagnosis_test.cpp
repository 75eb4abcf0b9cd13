// The diagnosis on evidence stated as counts: which cause wins, which is
// only mentioned, and which is never named on a minority.
#include "tools/varkel-check/judge/diagnosis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using varkel_check::Findings;
using LineActivity = varkel_check::Evidence;

// What the words show of the clock's phase, stated apart from the lines.
struct ModeEvidence {
    std::uint64_t wordsWithPhase = 0, changesWhileHigh = 0, wordsUnclear = 0;
};

// Lines with a select that went active and most clock edges inside it.
LineActivity Busy() {
    LineActivity lines;
    for (std::uint64_t& n : lines.changes) {
        n = 100;
    }
    lines.selectWentActive = true;
    lines.clockRises = lines.risesWhileActive = 800;
    lines.periodsByRises[8] = 100;
    lines.burstsByRises[8] = 100;
    return lines;
}

// Messages checked and read right.
Findings Right(unsigned messages) {
    Findings f;
    f.messages = messages;
    return f;
}

// One message checked, its bytes wrong, at the program's bit time.
Findings OneWrongMessage() {
    Findings f;
    f.messages = 1;
    f.wrongMessages = 1;
    f.bytes = {0.5, 1, 2, "expected 0x45 'E', seen 0x44 'D' (bit 0 differs)"};
    f.wrongMessageStart = 0.5;
    f.bitTimed = true;
    f.bitNs = f.expectedBitNs = 700;
    f.bitTolerance = 0.05;
    return f;
}

std::vector<varkel_check::Mismatch> Diagnose(LineActivity lines, const ModeEvidence& mode,
                                             const Findings& found, unsigned bits = 8,
                                             const varkel_check::Framing& framing = {}) {
    lines.wordsWithPhase = mode.wordsWithPhase;
    lines.changesWhileHigh = mode.changesWhileHigh;
    lines.wordsUnclear = mode.wordsUnclear;
    return varkel_check::Diagnose(framing, lines, found, {bits, false, 9});
}

std::vector<std::string> Causes(const LineActivity& lines, const ModeEvidence& mode, const Findings& found,
                                unsigned bits = 8, const varkel_check::Framing& framing = {}) {
    std::vector<std::string> out;
    for (const varkel_check::Mismatch& m : Diagnose(lines, mode, found, bits, framing)) {
        out.push_back(m.what);
    }
    return out;
}

TEST(Diagnosis, TheClockModeIsNamedFromMostOfTheEvidenceNeverFromAFew) {
    LineActivity lines = Busy();
    lines.rests = 2681;
    lines.restsHigh = 2;  // two start-up rests with the clock high
    ModeEvidence mode;
    mode.wordsWithPhase = 2681;
    EXPECT_EQ(Causes(lines, mode, OneWrongMessage()),
              std::vector<std::string>{"expected 0x45 'E', seen 0x44 'D' (bit 0 differs)"});

    lines.restsHigh = 2681;  // all of them: the polarity, with the phase from the data's changes
    EXPECT_EQ(
        Causes(lines, mode, OneWrongMessage()).at(0),
        "the clock rests high in 2,681 of 2,681 rests while selected: the other clock polarity (CPOL 1; "
        "the data changes on its falling edge: SPI mode 3)");
    mode.changesWhileHigh = 2681;
    EXPECT_EQ(
        Causes(lines, mode, OneWrongMessage()).at(0),
        "the clock rests high in 2,681 of 2,681 rests while selected: the other clock polarity (CPOL 1; "
        "the data changes on its rising edge: SPI mode 2)");
    mode.changesWhileHigh = 1500;  // split: the phase is not named
    EXPECT_EQ(
        Causes(lines, mode, OneWrongMessage()).at(0),
        "the clock rests high in 2,681 of 2,681 rests while selected: the other clock polarity (CPOL 1; "
        "SPI mode 2 or 3)");

    mode = {};
    mode.wordsWithPhase = 36;
    mode.changesWhileHigh = 26;  // under three in four: the phase stands
    EXPECT_EQ(Causes(Busy(), mode, OneWrongMessage()).size(), 1u);
    mode.changesWhileHigh = 27;
    EXPECT_EQ(Causes(Busy(), mode, OneWrongMessage()).at(0),
              "the data changes on the rising clock edge in 27 of 36 frames: the other clock phase (CPHA 1, "
              "SPI mode 1)");
}

// Changes the sampling may have placed are no evidence: with none clear of
// the clock's edges the phase is named only where the bytes show it.
TEST(Diagnosis, WithoutClearChangesThePhaseComesOnlyFromTheBytes) {
    ModeEvidence mode;
    mode.wordsUnclear = 255;
    Findings found = OneWrongMessage();
    EXPECT_EQ(Causes(Busy(), mode, found),
              std::vector<std::string>{"expected 0x45 'E', seen 0x44 'D' (bit 0 differs)"});
    EXPECT_TRUE(Causes(Busy(), mode, Right(3)).empty());

    found.rightOnFall = 1;  // the wrong message reads right on the falling edge
    EXPECT_EQ(Causes(Busy(), mode, found).at(0),
              "the data is right only sampled on the falling clock edge: the other clock phase (CPHA 1)");
    found.rightOnFall = 0;
    found.rightBoth = 1;
    EXPECT_EQ(Causes(Busy(), mode, found).at(0),
              "the data is right only sampled on the falling clock edge: the other clock phase (CPHA 1), and "
              "LSB first");

    mode.wordsWithPhase = mode.changesWhileHigh = 255;  // and clear changes that agree
    EXPECT_EQ(Causes(Busy(), mode, found).at(0),
              "the data changes on the rising clock edge in 255 of 255 frames and is right only sampled on "
              "the falling one: the other clock phase (CPHA 1, SPI mode 1), and LSB first");
}

// A select closing on a clock edge's sample loses a word as sigrok reads
// it: said as the sampling's doing, never as the port's width or mode.
TEST(Diagnosis, AWordLostAsTheSelectClosesIsPutToTheSampling) {
    varkel_check::Framing framing;
    framing.selectClosedOnEdge = 100;
    framing.wordsLostAtClose = 100;
    Findings found = OneWrongMessage();
    found.bytes = {0.5, 1, 9, "frame 9 (0x00) is missing"};
    EXPECT_EQ(
        Causes(Busy(), {}, found, 8, framing),
        (std::vector<std::string>{"100 of 100 select periods that close on the sample of a clock edge end "
                                  "inside a word, which is not read (as sigrok reads it): sample faster to "
                                  "tell whether the port or the capture lost it",
                                  "frame 9 (0x00) is missing"}));
    EXPECT_TRUE(Causes(Busy(), {}, Right(3), 8, framing).empty());  // nothing was lost that the messages miss
}

TEST(Diagnosis, BitOrderAndWordWidthAreNamedWhereTheyExplainTheBytes) {
    Findings found = OneWrongMessage();
    found.rightLsbFirst = 1;
    EXPECT_EQ(Causes(Busy(), {}, found),
              std::vector<std::string>{"bits in reverse order: the bytes read right LSB first"});

    LineActivity nine = Busy();  // a select held, the clock in bursts of nine
    nine.burstsByRises[8] = 0;
    nine.burstsByRises[9] = 7;
    EXPECT_EQ(Causes(nine, {}, OneWrongMessage()).at(0),
              "7 of 7 clock bursts hold 9 pulses, no whole number of 8-bit words: 9-bit words? (--bits 9)");
    EXPECT_TRUE(Causes(nine, {}, Right(2), 9).empty());  // read as 9-bit words, and right

    // Periods of sixteen read as two bytes each are sound framing: named
    // only when the bytes are wrong, and after them.
    LineActivity sixteen = Busy();
    sixteen.periodsByRises[8] = 0;
    sixteen.periodsByRises[16] = 29;
    EXPECT_TRUE(Causes(sixteen, {}, Right(2)).empty());
    EXPECT_EQ(Causes(sixteen, {}, OneWrongMessage()).at(1),
              "29 of 29 select periods hold 16 clock pulses, not 8 or 72: 16-bit words? (--bits 16)");
    sixteen.periodsByRises[16] = 0;
    sixteen.periodsByRises[64] = 17;
    EXPECT_EQ(Causes(sixteen, {}, OneWrongMessage()).at(1),
              "17 of 17 select periods hold 64 clock pulses, not 8 or 72: 64-bit words? (wider than --bits "
              "reads, 32)");
    sixteen.periodsByRises[64] = 0;
    sixteen.periodsByRises[72] = 10;  // a message in one select period: the held framing
    EXPECT_EQ(Causes(sixteen, {}, OneWrongMessage()).size(), 1u);
}

TEST(Diagnosis, CausesAreRankedAndAnInvertedSelectStandsAlone) {
    LineActivity inverted = Busy();
    inverted.risesWhileActive = 8;
    inverted.rests = inverted.restsHigh = 1;
    ModeEvidence mode;
    EXPECT_EQ(Causes(inverted, mode, OneWrongMessage()),
              std::vector<std::string>{"792 of 800 rising clock edges come while the frame line is high: a "
                                       "select that is active high (--select-active high), or not the frame "
                                       "line (--sfrm)?"});

    Findings found = OneWrongMessage();  // the bit time three times long, and a late message
    found.bitNs = 2100;
    found.bitTime = {0.25, 1, 1, "bit time"};
    found.interval = {1.5, 2, 0, "message interval 1500.000 ms since message 1, expected 1000 ms +/- 5 ms"};
    LineActivity high = Busy();
    high.rests = high.restsHigh = 1;
    const std::vector<varkel_check::Mismatch> causes = Diagnose(high, mode, found);
    ASSERT_EQ(causes.size(), 4u);
    EXPECT_EQ(causes[0].what.substr(0, 28), "the clock rests high in 1 of");
    EXPECT_EQ(
        causes[1].what,
        "bit time 2100.0 ns is 3 times the expected 700.0 ns: a port clock or clock-rate setting off by "
        "that factor (--port-clock-hz)");
    EXPECT_EQ(causes[1].seconds, 0.25);  // where the first strayed
    EXPECT_EQ(causes[2].byte, 2u);
    EXPECT_EQ(causes[3].message, 2u);

    LineActivity silent;
    EXPECT_EQ(Causes(silent, mode, found).size(), 1u);
}

}  // namespace
