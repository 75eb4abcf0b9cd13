// The checker in memory: words as the decoder hands them over, held
// against the program's messages.
#include "tools/varkel-check/judge/checker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::uint64_t kBitNs = 700;  // ticks of 1 ns
constexpr std::uint8_t kMessage[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};

// The words of message `m` (from 0), a second apart, each 8 bits.
std::vector<varkel_check::Word> Message(unsigned m, bool cutAtStart = false) {
    std::vector<varkel_check::Word> out;
    std::uint64_t t = 1'000'000 + m * 1'000'000'000ull;
    for (const std::uint8_t byte : kMessage) {
        varkel_check::Word w;
        w.startTick = t;
        w.firstRiseTick = t + kBitNs / 2;
        w.lastRiseTick = w.firstRiseTick + 7 * kBitNs;
        w.endTick = t + 8 * kBitNs;
        w.risingValue = w.fallingValue = byte;
        w.rises = w.falls = 8;
        w.periodCutAtStart = cutAtStart && out.empty();
        out.push_back(w);
        t = w.endTick + 2 * kBitNs;
    }
    return out;
}

varkel_check::Report Check(const std::vector<std::vector<varkel_check::Word>>& messages,
                           const varkel_check::Expectation& expect = {}) {
    varkel_check::Checker checker(expect, 1e-9);
    varkel_check::Framing framing;
    for (const auto& words : messages) {
        for (const varkel_check::Word& w : words) {
            checker.Add(w);
            ++framing.wordsAlone;
        }
    }
    varkel_check::Evidence lines;
    lines.changes[0] = lines.changes[1] = lines.changes[2] = 1;
    lines.selectWentActive = true;
    return checker.Finish(framing, lines);
}

TEST(Checker, MessagesAreGroupedByTheirGapsAndHeldAgainstTheProgramsBytes) {
    varkel_check::Report r = Check({Message(0), Message(1), Message(2)});
    EXPECT_TRUE(r.match) << r.mismatch.what;
    EXPECT_EQ(r.messages, 3u);
    EXPECT_EQ(r.frames, 27u);
    EXPECT_EQ(r.intervals, 2u);
    EXPECT_DOUBLE_EQ(r.bitNs, 700);

    std::vector<varkel_check::Word> dropped = Message(1);
    dropped.erase(dropped.begin() + 4);
    r = Check({Message(0), dropped, Message(2)});
    ASSERT_FALSE(r.match);
    EXPECT_EQ(r.mismatch.message, 2u);
    EXPECT_EQ(r.mismatch.byte, 5u);
    EXPECT_EQ(r.mismatch.what, "frame 5 (0x4E 'N') is missing");
}

TEST(Checker, AFirstMessageWhoseSelectWasActiveIsCheckedOnlyWhenWhole) {
    // Begun on the select's own edge: all nine words are there.
    varkel_check::Report r = Check({Message(0, true), Message(1)});
    EXPECT_TRUE(r.match) << r.mismatch.what;
    EXPECT_EQ(r.messages, 2u);

    std::vector<varkel_check::Word> tail = Message(0, true);  // begun inside it: its tail
    tail.erase(tail.begin(), tail.begin() + 3);
    tail.front().periodCutAtStart = true;
    r = Check({tail, Message(1)});
    EXPECT_TRUE(r.match) << r.mismatch.what;
    EXPECT_EQ(r.messages, 1u);
    EXPECT_EQ(r.partialMessagesAtStart, 1u);
    EXPECT_EQ(r.partialFramesAtStart, 6u);
}

// Words wider than a byte are compared whole: a wrong high byte is wrong.
TEST(Checker, WordsOfAnyWidthAreComparedWhole) {
    varkel_check::Expectation sixteen;
    sixteen.bits = 16;
    sixteen.message = varkel_check::ProgramWords(16);
    EXPECT_EQ(sixteen.message.front(), 0x5Au);  // the program's bytes, zero-extended
    std::vector<varkel_check::Word> words = Message(0);
    EXPECT_TRUE(Check({words}, sixteen).match);
    words[3].risingValue = words[3].fallingValue = 0x120;  // only bit 8 wrong: the low byte reads ' '
    const varkel_check::Report r = Check({words}, sixteen);
    ASSERT_FALSE(r.match);
    EXPECT_EQ(r.mismatch.byte, 4u);
    EXPECT_EQ(r.mismatch.what, "expected 0x0020, seen 0x0120 (bit 8 differs)");

    varkel_check::Expectation four;  // narrower words: each byte's low bits
    four.bits = 4;
    four.message = varkel_check::ProgramWords(4);
    EXPECT_EQ(four.message, (std::vector<std::uint32_t>{0xA, 0x5, 0xC, 0x0, 0xE, 0x3, 0x3, 0x0, 0x0}));
}

}  // namespace
