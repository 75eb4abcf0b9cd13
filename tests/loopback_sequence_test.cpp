// The loopback self-test on the simulated board: a jumpered port passes,
// and an open, shorted or dead one fails naming the likely cause.
#include "app/loopback_sequence.h"

#include <cstdint>
#include <string>
#include <vector>

#include "hw/reg_io.h"
#include "ssp/ssp.h"
#include "tests/board_fixture.h"

namespace {

constexpr std::uint64_t kGpioBase = 0x40E00000, kSspBase = 0x41900000, kClockBase = 0x41300000;
constexpr std::uint64_t kStatus = 0x41900008;
constexpr std::uint64_t kData = 0x41900010;
constexpr std::uint64_t kClockEnable = 0x41300004;
constexpr std::uint8_t kMessage[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};
constexpr std::uint64_t kWaitReads = 262144;  // a wait that gives up

class LoopbackTest : public BoardTest {
  protected:
    // The windows released, in order, by the physical block each stood for.
    std::vector<std::uint64_t> Released() const {
        std::vector<std::uint64_t> bound, released;
        for (const platform::host::CallRecord& r : calls) {
            if (r.call == platform::host::Call::Bind && r.result == 1) {
                bound.push_back(r.args[1] << 8);
            }
        }
        std::vector<std::uint64_t> reserved;
        for (const platform::host::CallRecord& r : calls) {
            if (r.call == platform::host::Call::Reserve && r.result != 0) {
                reserved.push_back(static_cast<std::uint64_t>(r.result));
            }
            if (r.call == platform::host::Call::Release) {
                for (std::size_t i = 0; i < reserved.size() && i < bound.size(); ++i) {
                    if (reserved[i] == r.args[0]) {
                        released.push_back(bound[i]);
                    }
                }
            }
        }
        return released;
    }
};

TEST_F(LoopbackTest, AJumperedPortPassesEveryByteWithNoPause) {
    MakeBoard({.rxd = sim::RxdLine::Loopback});
    EXPECT_EQ(LoopbackTestMain(3), 0);
    EXPECT_EQ(consoleText, "loopback: PASS: 3 messages, 27 bytes returned unchanged\n");
    EXPECT_NE(debugText.find(" Loopback test: 3 messages out of TXD, each read back from RXD \r\n"),
              std::string::npos);
    std::vector<std::uint32_t> sent;
    for (int i = 0; i < 3; ++i) {
        sent.insert(sent.end(), std::begin(kMessage), std::end(kMessage));
    }
    EXPECT_EQ(frames.OnWire(), sent);
    EXPECT_EQ(traffic.Reads(kData), 27u);  // each byte read back once
    EXPECT_TRUE(CallsOf(platform::host::Call::Sleep).empty());
    EXPECT_EQ(Released(), (std::vector<std::uint64_t>{kClockBase, kSspBase, kGpioBase}));
    EXPECT_TRUE(platform::host::Reservations().empty());

    // After the set-up (its last access turns the port's clock on), the
    // receive FIFO is emptied and its overrun cleared before anything is sent.
    std::size_t i = 0;
    for (std::size_t k = 0; k < traffic.traffic.size(); ++k) {
        i = traffic.traffic[k].physical == kClockEnable ? k + 1 : i;
    }
    ASSERT_LT(i + 3, traffic.traffic.size());
    EXPECT_EQ(std::vector<Traffic>(traffic.traffic.begin() + static_cast<std::ptrdiff_t>(i),
                                   traffic.traffic.begin() + static_cast<std::ptrdiff_t>(i) + 3),
              (std::vector<Traffic>{{'R', kStatus, 0x04}, {'W', kStatus, 0x80}, {'R', kStatus, 0x04}}));
}

TEST_F(LoopbackTest, FramesLeftFromBeforeAreDiscardedNotCompared) {
    MakeBoard({.rxd = sim::RxdLine::Loopback});
    MapAndConfigure();
    ShiftFrames(0xEE, 20);  // fills the receive FIFO and overruns it
    EXPECT_EQ(LoopbackTestMain(1), 0);
    EXPECT_NE(debugText.find(" Loopback test: 16 frames left from before discarded \r\n"), std::string::npos);
    EXPECT_EQ(consoleText, "loopback: PASS: 1 messages, 9 bytes returned unchanged\n");
}

struct Failure {
    const char* name;
    sim::BoardOptions board;
    std::string verdict;
};

void PrintTo(const Failure& f, std::ostream* os) {
    *os << f.name;
}

class LoopbackFailure : public LoopbackTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(LoopbackFailure, StopsAtTheFirstMessageNamingTheCause) {
    MakeBoard(GetParam().board);
    EXPECT_EQ(LoopbackTestMain(5), 4);
    EXPECT_EQ(consoleText, GetParam().verdict + "\n");
    EXPECT_EQ(frames.ended.size(), 9u);  // message 1 only
    EXPECT_EQ(Released(), (std::vector<std::uint64_t>{kClockBase, kSspBase, kGpioBase}));
}

INSTANTIATE_TEST_SUITE_P(
    EachCause, LoopbackFailure,
    ::testing::Values(
        Failure{
            "OpenPinReadsHigh",
            {.rxd = sim::RxdLine::High},
            "loopback: FAIL: message 1 byte 1: sent 0x5A, received 0xFF: the receive pin reads high (is the "
            "jumper from TXD to RXD on?)"},
        Failure{"PinHeldLow",
                {.rxd = sim::RxdLine::Low},
                "loopback: FAIL: message 1 byte 1: sent 0x5A, received 0x00: the receive pin is held low"},
        Failure{"PinsNeverRouted",
                {.rxd = sim::RxdLine::Loopback, .faults = {.pinsUnrouted = true}},
                "loopback: FAIL: message 1 byte 1: sent 0x5A, received nothing: the port is not receiving "
                "(receive pin not routed, or the port's clock off)"}),
    [](const auto& test) { return test.param.name; });

TEST_F(LoopbackTest, NothingReceivedIsNineWaitsThatGiveUpAndNoDataRead) {
    MakeBoard({.rxd = sim::RxdLine::Loopback, .faults = {.pinsUnrouted = true}});
    EXPECT_EQ(LoopbackTestMain(1), 4);
    // One status read before the flush, nine before the stores, then the
    // nine receive waits in full; the data register is never read.
    EXPECT_EQ(traffic.Reads(kStatus), 1 + 9 + 9 * kWaitReads);
    EXPECT_EQ(traffic.Reads(kData), 0u);
}

TEST_F(LoopbackTest, ASendThatGivesUpIsTheVerdict) {
    MakeBoard({.rxd = sim::RxdLine::Loopback, .faults = {.txStuck = true}});
    EXPECT_EQ(LoopbackTestMain(2), 4);
    EXPECT_EQ(
        consoleText,
        "loopback: FAIL: message 1: the send gave up waiting for transmit room (is the port's clock on?)\n");
    EXPECT_EQ(traffic.Reads(kStatus), 1 + kWaitReads);  // no receive wait after it
    EXPECT_EQ(giveUps.sendsGaveUp(), 1u);
}

TEST(LoopbackCause, ShiftedBytesReadAsClockPhaseAndOtherNoiseAsNoCause) {
    std::int32_t late[9], early[9], noise[9], partial[9];
    for (int i = 0; i < 9; ++i) {
        const std::uint32_t byte = kMessage[i];
        const std::uint32_t previousLsb = i == 0 ? 1u : kMessage[i - 1] & 1u;
        const std::uint32_t nextMsb = i == 8 ? 0u : static_cast<std::uint32_t>(kMessage[i + 1]) >> 7u;
        late[i] = static_cast<std::int32_t>((previousLsb << 7u) | (byte >> 1u));
        early[i] = static_cast<std::int32_t>(((byte << 1u) & 0xFFu) | nextMsb);
        noise[i] = kMessage[i] ^ 0x10;
        partial[i] = i < 4 ? kMessage[i] : -1;
    }
    EXPECT_STREQ(LoopbackCause(kMessage, late, 9), "every byte is shifted by one bit (clock phase)");
    EXPECT_STREQ(LoopbackCause(kMessage, early, 9), "every byte is shifted by one bit (clock phase)");
    EXPECT_EQ(LoopbackCause(kMessage, noise, 9), nullptr);
    EXPECT_EQ(LoopbackCause(kMessage, partial, 9), nullptr);
}

}  // namespace
