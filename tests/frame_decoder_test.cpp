// The word decoder on level changes stated tick by tick, as an analyser
// would record them: framings, the sampling rule, and the capture's edges.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/varkel-check/decode/evidence.h"
#include "tools/varkel-check/decode/words.h"

namespace {

using varkel_check::Line;

// Drives a decoder with a clock of 10 ticks a bit (rising at 5, falling
// at 10), the data set at each falling edge as a mode-0 sender does.
class Wire {
  public:
    explicit Wire(varkel_check::DecoderSettings settings = {})
        : collector(settings), decoder(settings, [this](const varkel_check::Word& w) {
              collector.Take(w);
              words.push_back(w);
          }) {}

    // A level change, to the evidence collector first and then the decoder,
    // as the check's pipeline hands them over.
    void Change(std::uint64_t at, Line line, char level) {
        collector.Change(at, line, level);
        decoder.Change(at, line, level);
    }

    void Start(char sclk, char sfrm, char txd) {
        Change(tick, Line::Sclk, sclk);
        Change(tick, Line::Sfrm, sfrm);
        Change(tick, Line::Txd, txd);
        tick += 10;
    }
    void Select(char level) {
        Change(tick, Line::Sfrm, level);
        tick += 10;
    }
    // `bits` clock pulses carrying `value`, MSB first.
    void Shift(std::uint32_t value, unsigned bits) {
        for (unsigned i = bits; i-- > 0;) {
            Change(tick, Line::Txd, (value >> i & 1u) != 0 ? '1' : '0');
            Change(tick + 5, Line::Sclk, '1');
            Change(tick + 10, Line::Sclk, '0');
            tick += 10;
        }
    }
    // As Shift, but the data changes `at` ticks into each bit: 2, while the
    // clock is low (a mode-0 sender); 7, while it is high (mode 1).
    void ShiftAt(std::uint32_t value, unsigned bits, unsigned at) {
        for (unsigned i = bits; i-- > 0;) {
            const char bit = (value >> i & 1u) != 0 ? '1' : '0';
            if (at < 5) {
                Change(tick + at, Line::Txd, bit);
            }
            Change(tick + 5, Line::Sclk, '1');
            if (at >= 5) {
                Change(tick + at, Line::Txd, bit);
            }
            Change(tick + 10, Line::Sclk, '0');
            tick += 10;
        }
    }
    void End() {
        collector.End(tick + 10);
        decoder.End(tick + 10);
    }
    const varkel_check::Framing& framing() const { return decoder.framing(); }
    const varkel_check::Evidence& evidence() const { return collector.evidence(); }

    std::vector<std::uint32_t> Values() const {
        std::vector<std::uint32_t> out;
        for (const varkel_check::Word& w : words) {
            if (w.complete) {
                out.push_back(w.risingValue);
            }
        }
        return out;
    }

    varkel_check::EvidenceCollector collector;
    varkel_check::WordDecoder decoder;
    std::vector<varkel_check::Word> words;
    std::uint64_t tick = 0;
};

TEST(WordDecoder, APulsePerWordAndASelectHeldAcrossWordsReadTheSameBytes) {
    Wire pulsed;
    pulsed.Start('0', '1', '0');
    for (const std::uint32_t byte : {0x5Au, 0x45u, 0x00u}) {
        pulsed.Select('0');
        pulsed.Shift(byte, 8);
        pulsed.Select('1');
    }
    pulsed.End();
    Wire held;
    held.Start('0', '1', '0');
    held.Select('0');
    for (const std::uint32_t byte : {0x5Au, 0x45u, 0x00u}) {
        held.Shift(byte, 8);
    }
    held.Select('1');
    held.End();

    const std::vector<std::uint32_t> bytes = {0x5A, 0x45, 0x00};
    EXPECT_EQ(pulsed.Values(), bytes);
    EXPECT_EQ(held.Values(), bytes);
    EXPECT_EQ(pulsed.framing().wordsAlone, 3u);
    EXPECT_EQ(pulsed.framing().wordsShared, 0u);
    EXPECT_EQ(held.framing().wordsAlone, 0u);
    EXPECT_EQ(held.framing().wordsShared, 3u);
    ASSERT_EQ(held.words.size(), 3u);
    EXPECT_TRUE(held.words[0].firstInPeriod);
    EXPECT_FALSE(held.words[1].firstInPeriod);
    EXPECT_EQ(held.words[1].startTick, held.words[0].endTick + 5);  // its first rising edge
    EXPECT_EQ(held.framing().bitsChangedOnEdgeSample, 0u);
}

TEST(WordDecoder, DataIsTakenAtTheEdgesOwnSampleAndSuchChangesAreCounted) {
    Wire w;
    w.Start('0', '1', '0');
    w.Select('0');
    // Each bit changes on the very sample its clock rises.
    for (int i = 7; i >= 0; --i) {
        w.Change(w.tick + 5, Line::Txd, (0xA5 >> i & 1) != 0 ? '1' : '0');
        w.Change(w.tick + 5, Line::Sclk, '1');
        w.Change(w.tick + 10, Line::Sclk, '0');
        w.tick += 10;
    }
    w.Select('1');
    w.End();
    EXPECT_EQ(w.Values(), std::vector<std::uint32_t>{0xA5});
    EXPECT_EQ(w.framing().bitsChangedOnEdgeSample, 7u);  // 1,0,1,0,0,1,0,1 from 0: seven changes
    ASSERT_EQ(w.words.size(), 1u);
    EXPECT_EQ(w.evidence().wordsWithPhase, 0u);  // no evidence of phase
    EXPECT_EQ(w.evidence().wordsUnclear, 1u);
}

TEST(WordDecoder, ASelectActiveAtTheStartIsDecodedAndCutWordsAreLeftOutAndCounted) {
    Wire w;
    w.Start('0', '0', '0');  // already selected at the first sample
    w.Shift(0x03, 3);        // the tail of a word begun before the capture
    w.Select('1');
    w.Select('0');
    w.Shift(0x5A, 8);
    w.Shift(0x45, 8);
    w.Shift(0x1, 3);  // the capture ends three bits into a word
    w.End();
    EXPECT_EQ(w.Values(), (std::vector<std::uint32_t>{0x5A, 0x45}));
    EXPECT_EQ(w.framing().partialAtStart, 1u);
    EXPECT_EQ(w.framing().partialAtEnd, 1u);
    EXPECT_EQ(w.framing().partialWords, 0u);
    EXPECT_TRUE(w.evidence().selectWentActive);

    Wire cut;  // a whole word after a start inside the select: kept, marked
    cut.Start('0', '0', '0');
    cut.Shift(0x77, 8);
    cut.Select('1');
    cut.End();
    ASSERT_EQ(cut.Values(), std::vector<std::uint32_t>{0x77});
    EXPECT_TRUE(cut.words[0].periodCutAtStart);
}

TEST(WordDecoder, APeriodEndingInsideAWordKeepsItsWholeWordsAndReportsTheRest) {
    Wire w;
    w.Start('0', '1', '0');
    w.Select('0');
    w.Shift(0x1A5, 9);  // nine bits in a select period, read as bytes
    w.Select('1');
    w.End();
    ASSERT_EQ(w.words.size(), 2u);
    EXPECT_EQ(w.words[0].risingValue, 0xD2u);  // the first eight bits
    EXPECT_TRUE(w.words[0].complete);
    EXPECT_TRUE(w.words[0].sharesPeriod);
    EXPECT_FALSE(w.words[1].complete);
    EXPECT_EQ(w.words[1].rises, 1u);
    EXPECT_EQ(w.framing().partialWords, 1u);
    EXPECT_EQ(w.evidence().periodsByRises[9], 1u);

    Wire nine({.bits = 9});
    nine.Start('0', '1', '0');
    nine.Select('0');
    nine.Shift(0x1A5, 9);
    nine.Select('1');
    nine.End();
    EXPECT_EQ(nine.Values(), std::vector<std::uint32_t>{0x1A5});
}

TEST(WordDecoder, AnActiveHighSelectAndEdgesOutsideTheSelect) {
    Wire w({.bits = 8, .selectActiveHigh = true});
    w.Start('0', '0', '0');
    w.Shift(0xFF, 8);  // select inactive (low): not a word
    w.Select('1');
    w.Shift(0x3C, 8);
    w.Select('0');
    w.End();
    EXPECT_EQ(w.Values(), std::vector<std::uint32_t>{0x3C});
    EXPECT_EQ(w.evidence().clockRises, 16u);
    EXPECT_EQ(w.evidence().risesWhileActive, 8u);
}

// The select's edges on a clock edge's own sample, read as sigrok reads
// them: a rising edge as the select opens is a bit, one as it closes is not,
// and the word it would have ended is lost; both are counted, and neither
// tells the clock's rest level.
TEST(WordDecoder, EdgesOnTheSamplesWhereTheSelectOpensAndClosesAreReadAsSigrokReadsThem) {
    Wire w;
    w.Start('0', '1', '0');
    w.Select('0');
    w.Shift(0x81, 7);  // seven whole bits...
    w.Change(w.tick, Line::Txd, '1');
    w.Change(w.tick + 5, Line::Sclk, '1');
    w.Change(w.tick + 5, Line::Sfrm, '1');  // ...and the eighth rises as the select ends
    w.Change(w.tick + 10, Line::Sclk, '0');
    w.tick += 20;
    w.End();
    EXPECT_EQ(w.Values(), std::vector<std::uint32_t>{});
    const varkel_check::Framing& a = w.framing();
    const varkel_check::Evidence& e = w.evidence();
    EXPECT_EQ(a.selectClosedOnEdge, 1u);
    EXPECT_EQ(a.wordsLostAtClose, 1u);
    EXPECT_EQ(a.partialWords, 0u);  // no select period ending inside a word for a width to explain
    for (const std::uint64_t n : e.periodsByRises) {
        EXPECT_EQ(n, 0u);
    }

    // The select opens on a falling edge, the clock high before it: no
    // bit, and no rest high. Then on a rising edge: its first bit.
    Wire open;
    open.Start('1', '1', '1');
    open.Change(open.tick, Line::Sfrm, '0');
    open.Change(open.tick, Line::Sclk, '0');
    open.tick += 10;
    open.Shift(0xA5, 8);
    open.Select('1');
    open.Change(open.tick, Line::Sfrm, '0');
    open.Change(open.tick, Line::Sclk, '1');
    open.Change(open.tick, Line::Txd, '1');
    open.Change(open.tick + 5, Line::Sclk, '0');
    open.tick += 10;
    open.Shift(0x25, 7);
    open.Select('1');
    open.End();
    EXPECT_EQ(open.Values(), (std::vector<std::uint32_t>{0xA5, 0xA5}));
    EXPECT_EQ(open.framing().selectOpenedOnEdge, 1u);
    EXPECT_EQ(open.evidence().rests, 1u);  // low, before the first period's first rise
    EXPECT_EQ(open.evidence().restsHigh, 0u);
}

// Where the clock rests while selected is its polarity; rests the select's
// edges could have cut short (under two samples) are not counted.
TEST(WordDecoder, TheClockRestsAreCountedClearOfTheSelectsEdges) {
    Wire low;
    low.Start('0', '1', '0');
    for (int word = 0; word < 3; ++word) {
        low.Select('0');
        low.Shift(0x5A, 8);
        low.Select('1');
    }
    low.End();
    // As each select opens; each closes on its last falling edge's sample,
    // too close to tell what the clock did before.
    EXPECT_EQ(low.evidence().rests, 3u);
    EXPECT_EQ(low.evidence().restsHigh, 0u);

    Wire high;  // idle high: falling edges lead
    high.Start('1', '1', '0');
    high.Select('0');
    for (int i = 0; i < 8; ++i) {
        high.Change(high.tick + 5, Line::Sclk, '0');
        high.Change(high.tick + 7, Line::Txd, i % 2 == 0 ? '1' : '0');
        high.Change(high.tick + 10, Line::Sclk, '1');
        high.tick += 10;
    }
    high.tick += 1;  // the select ends a sample after the last rise: too close to tell
    high.Select('1');
    high.End();
    EXPECT_EQ(high.evidence().rests, 1u);
    EXPECT_EQ(high.evidence().restsHigh, 1u);
}

// A change a sample from an edge, or in a clock of few samples a period,
// could be the sampling's doing: it is counted, but shows no phase.
TEST(WordDecoder, ChangesTooCloseToAnEdgeShowNoPhase) {
    Wire early;  // the next bit set a sample before each falling edge
    early.Start('0', '1', '0');
    early.Select('0');
    early.ShiftAt(0xAA, 8, 9);
    early.Select('1');
    early.End();
    ASSERT_EQ(early.words.size(), 1u);
    EXPECT_EQ(early.evidence().wordsWithPhase, 0u);
    EXPECT_EQ(early.evidence().wordsUnclear, 1u);

    Wire coarse;  // three samples a clock period
    coarse.Start('0', '1', '0');
    coarse.Select('0');
    for (int i = 0; i < 8; ++i) {
        coarse.Change(coarse.tick, Line::Txd, i % 2 == 0 ? '1' : '0');
        coarse.Change(coarse.tick + 1, Line::Sclk, '1');
        coarse.Change(coarse.tick + 2, Line::Sclk, '0');
        coarse.tick += 3;
    }
    coarse.Select('1');
    coarse.End();
    ASSERT_EQ(coarse.words.size(), 1u);
    EXPECT_EQ(coarse.evidence().wordsWithPhase, 0u);
    EXPECT_EQ(coarse.evidence().wordsUnclear, 1u);
    EXPECT_LT(coarse.words[0].BitTicks(), static_cast<double>(varkel_check::kMinPhaseSamples));
}

TEST(WordDecoder, TheClocksLevelAtEachDataChangeIsCountedButNotInAPause) {
    Wire low, high;
    for (auto [w, at] : {std::pair{&low, 2u}, std::pair{&high, 7u}}) {
        w->Start('0', '1', '0');
        w->Select('0');
        w->ShiftAt(0xAA, 8, at);
        w->Select('1');
        w->End();
        ASSERT_EQ(w->words.size(), 1u);
    }
    // 1,0,1,0,1,0,1,0: the first is set before any edge, and says nothing.
    // Each word votes by the clock's level at most of its changes.
    EXPECT_EQ(low.evidence().wordsWithPhase, 1u);
    EXPECT_EQ(low.evidence().changesWhileHigh, 0u);
    EXPECT_EQ(high.evidence().wordsWithPhase, 1u);  // mode 1: set after the rise
    EXPECT_EQ(high.evidence().changesWhileHigh, 1u);
    EXPECT_EQ(high.words[0].fallingValue, 0xAAu);                // right on the fall
    EXPECT_EQ(high.Values(), std::vector<std::uint32_t>{0x55});  // a bit late on the rise

    // Nine-bit words read as bytes: the pause between words falls inside a
    // byte, and the data's change there is left out.
    Wire nine;
    nine.Start('1', '1', '0');  // clock idle high; data changes while low
    nine.Select('0');
    for (int word = 0; word < 2; ++word) {
        for (int i = 0; i < 9; ++i) {
            nine.Change(nine.tick, Line::Sclk, '0');
            nine.Change(nine.tick + 2, Line::Txd, i % 2 == 0 ? '1' : '0');
            nine.Change(nine.tick + 5, Line::Sclk, '1');
            nine.tick += 10;
        }
        nine.Change(nine.tick + 20, Line::Txd, '0');  // the last bit was 1
        nine.tick += 50;
    }
    nine.Select('1');
    nine.End();
    ASSERT_GE(nine.words.size(), 2u);
    EXPECT_GT(nine.evidence().wordsWithPhase, 0u);
    EXPECT_EQ(nine.evidence().changesWhileHigh, 0u);
}

TEST(WordDecoder, ClockBurstsWithinASelectPeriodAreCountedWholeOnly) {
    Wire w;
    w.Start('0', '0', '0');  // the capture begins inside a burst: left out
    w.Shift(0x1FF, 9);
    w.tick += 100;
    for (int burst = 0; burst < 3; ++burst) {
        w.Shift(0x155, 9);
        w.tick += 100;
    }
    w.Select('1');
    w.Select('0');
    w.Shift(0x3, 2);  // the capture ends inside one: left out
    w.End();
    const varkel_check::Evidence& e = w.evidence();
    EXPECT_EQ(e.burstsByRises[9], 3u);
    std::uint64_t all = 0;
    for (const std::uint64_t n : e.burstsByRises) {
        all += n;
    }
    EXPECT_EQ(all, 3u);
}

}  // namespace
