// The test sequence as a whole: its texts, early stops and a full run.
#include "app/sequence.h"

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "tests/board_fixture.h"

namespace {

constexpr char kReserveFailed[] = "\tMapPhysicalAddr : Error Return. \r\n";
constexpr char kBindFailed[] = "\tMapPhysicalAddr : return false from VirtualCopy(). \r\n";

// The debug text after the banner and its build line.
std::string AfterBanner(const std::string& debug) {
    const std::regex head(
        "\r\n\\* Varkel\\.exe: Sends a test message out the NSSP port\\.\r\n"
        "  431806-52774 built [A-Z][a-z]{2} [ 123][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\r\n");
    std::smatch match;
    if (!std::regex_search(debug, match, head, std::regex_constants::match_continuous)) {
        ADD_FAILURE() << "banner not found at the start of: " << debug.substr(0, 200);
        return debug;
    }
    return match.suffix();
}

class PortTestMainTest : public BoardTest {};

struct EarlyStop {
    const char* name;
    platform::host::FaultPlan faults;
    std::string lines;          // after the banner
    std::size_t reservations;   // requests made
    std::size_t stillReserved;  // left to process exit
};

void PrintTo(const EarlyStop& c, std::ostream* os) {
    *os << c.name;
}

class PortTestMainEarlyStop : public PortTestMainTest, public ::testing::WithParamInterface<EarlyStop> {};

TEST_P(PortTestMainEarlyStop, ReportsStopsAndReturnsFailure) {
    const EarlyStop& c = GetParam();
    platform::host::SetFaults(c.faults);
    EXPECT_EQ(PortTestMain(nullptr, nullptr, nullptr, 0), 1);
    EXPECT_EQ(consoleText, "hit c to contine \n");
    EXPECT_EQ(AfterBanner(debugText), c.lines);
    EXPECT_EQ(CallsOf(platform::host::Call::Reserve).size(), c.reservations);
    EXPECT_EQ(platform::host::Reservations().size(), c.stillReserved);
    EXPECT_TRUE(traffic.traffic.empty());
    EXPECT_TRUE(CallsOf(platform::host::Call::Sleep).empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachWindow, PortTestMainEarlyStop,
    ::testing::Values(EarlyStop{"GpioReserve",
                                {.refuseReserve = {1}},
                                std::string(kReserveFailed) + " Error 'cause GpioRegPtr == NULL \r\n",
                                1,
                                0},
                      EarlyStop{"GpioBind",
                                {.refuseBind = {1}},
                                std::string(kBindFailed) + " Error 'cause GpioRegPtr == NULL \r\n",
                                1,
                                0},
                      EarlyStop{"SspReserve",
                                {.refuseReserve = {2}},
                                std::string(kReserveFailed) + " Error 'cause SspRegPtr == NULL \r\n",
                                2,
                                1},
                      EarlyStop{"SspBind",
                                {.refuseBind = {2}},
                                std::string(kBindFailed) + " Error 'cause SspRegPtr == NULL \r\n",
                                2,
                                1},
                      EarlyStop{"ClockReserve",
                                {.refuseReserve = {3}},
                                std::string(kReserveFailed) + " Error 'cause v_pClkRegs == NULL \r\n",
                                3,
                                2},
                      EarlyStop{"ClockBind",
                                {.refuseBind = {3}},
                                std::string(kBindFailed) + " Error 'cause v_pClkRegs == NULL \r\n",
                                3,
                                2}),
    [](const auto& test) { return test.param.name; });

TEST_F(PortTestMainTest, FullRunSendsEveryMessageAndEndsInOrder) {
    // Keep the order of the calls that matter, without the whole run's text.
    std::vector<std::string> tail;
    std::uint32_t consoleLines = 0;
    std::uint32_t sleepsAfterSend = 0;
    std::string firstBadPause;  // the first pause not of 1000 ms after a whole message, named
    bool sendLineOpen = false;
    std::string lastSendLine;
    platform::host::AddCallObserver([&](const platform::host::CallRecord& r) {
        switch (r.call) {
            case platform::host::Call::Console:
                consoleLines += r.text == "Sending SSP Message\n" ? 1 : 0;
                break;
            case platform::host::Call::Debug:
                if (r.text == "Data sent:     0x") {
                    sendLineOpen = true;
                    lastSendLine = r.text;
                } else if (sendLineOpen) {
                    lastSendLine += r.text;
                    sendLineOpen = r.text != "\r\n";
                }
                break;
            case platform::host::Call::Sleep: {
                const bool afterSend = lastSendLine == "Data sent:     0x5A454C204E53535000\r\n";
                ++sleepsAfterSend;
                if (firstBadPause.empty() && (!afterSend || r.args[0] != 1000)) {
                    firstBadPause = "pause " + std::to_string(sleepsAfterSend) + " of " +
                                    std::to_string(r.args[0]) + " ms after \"" + lastSendLine + "\"";
                }
                lastSendLine.clear();
                break;
            }
            default:
                break;
        }
        if (r.call == platform::host::Call::Sleep || r.call == platform::host::Call::Release ||
            r.call == platform::host::Call::Debug) {
            tail.push_back(r.call == platform::host::Call::Sleep     ? "sleep"
                           : r.call == platform::host::Call::Release ? "release " + std::to_string(r.result)
                                                                     : r.text);
            if (tail.size() > 8) {
                tail.erase(tail.begin());
            }
        }
    });

    EXPECT_EQ(PortTestMain(nullptr, nullptr, nullptr, 0), 0);

    EXPECT_EQ(consoleLines, 10000u);
    EXPECT_EQ(sleepsAfterSend, 10000u);
    EXPECT_EQ(firstBadPause, "");
    EXPECT_EQ(tail, (std::vector<std::string>{"Data sent:     0x", "5A454C204E53535000", "\r\n", "sleep",
                                              "release 1", "release 1", "release 1", " NSSP: Done \r\n"}));
    EXPECT_TRUE(platform::host::Reservations().empty());

    const std::uint8_t message[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};
    ASSERT_EQ(frames.ended.size(), 90000u);
    std::size_t mismatches = 0;
    std::string first;  // the first frame that differs, named
    for (std::size_t i = 0; i < frames.ended.size(); ++i) {
        const FrameRecorder::Ended& e = frames.ended[i];
        const bool wrong = e.frame.value != message[i % 9] || e.frame.bits != 8 || e.frame.bitNs != 700 ||
                           e.fate != sim::FrameFate::OnWire ||
                           (i > 0 && e.frame.startNs <= frames.ended[i - 1].frame.startNs);
        if (wrong && mismatches++ == 0) {
            first = "frame " + std::to_string(i) + " (message " + std::to_string(i / 9 + 1) + ", byte " +
                    std::to_string(i % 9 + 1) + "): value " + std::to_string(e.frame.value) + ", " +
                    std::to_string(e.frame.bits) + " bits of " + std::to_string(e.frame.bitNs) + " ns at " +
                    std::to_string(e.frame.startNs) + " ns";
        }
    }
    EXPECT_EQ(mismatches, 0u) << "first: " << first;
    EXPECT_EQ(board->portStats().txDropped, 0u);
}

TEST_F(PortTestMainTest, MapsTheThreeBlocksAtTheBoardsAddressesInOrder) {
    ASSERT_EQ(PortTestMain(nullptr, nullptr, nullptr, 0), 0);
    std::vector<std::uint64_t> bound;
    for (const platform::host::CallRecord& r : CallsOf(platform::host::Call::Bind)) {
        EXPECT_EQ(r.args[2], 0x1000u);
        bound.push_back(r.args[1] << 8);
    }
    EXPECT_EQ(bound, (std::vector<std::uint64_t>{0x40E00000, 0x41900000, 0x41300000}));
}

TEST_F(PortTestMainTest, ReleasesTheWindowsClockFirstGpioLast) {
    std::vector<std::uint64_t> reserved;
    std::vector<std::uint64_t> released;
    platform::host::AddCallObserver([&](const platform::host::CallRecord& r) {
        if (r.call == platform::host::Call::Reserve) {
            reserved.push_back(static_cast<std::uint64_t>(r.result));
        } else if (r.call == platform::host::Call::Release) {
            released.push_back(r.args[0]);
        }
    });
    ASSERT_EQ(PortTestMain(nullptr, nullptr, nullptr, 0), 0);
    ASSERT_EQ(reserved.size(), 3u);
    EXPECT_EQ(released, (std::vector<std::uint64_t>{reserved[2], reserved[1], reserved[0]}));
}

}  // namespace
