// What a person sees of the port: the waveform, the register trace, and the
// board faults' effect on the wire.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hw/poll.h"
#include "hw/reg_io.h"
#include "sim/output_file.h"
#include "sim/trace_log.h"
#include "sim/vcd_writer.h"
#include "ssp/registers.h"
#include "ssp/ssp.h"
#include "tests/board_fixture.h"
#include "tools/varkel-sim/sim_runner.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::uint8_t> kMessage = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string RunCommand(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, n);
        }
        ::pclose(pipe);
    }
    return output;
}

// Values each VCD signal (by name) takes after time `afterNs`.
std::map<std::string, std::set<char>> SignalLevels(const std::string& vcd, std::uint64_t afterNs = 0) {
    std::map<char, std::string> names;
    std::map<std::string, std::set<char>> levels;
    std::istringstream in(vcd);
    bool started = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("$var wire 1 ", 0) == 0) {
            names[line[12]] = line.substr(14, line.find(" $end") - 14);
        } else if (line.rfind("#", 0) == 0) {
            started = std::stoull(line.substr(1)) > afterNs;
        } else if (started && line.size() == 2 && names.count(line[1]) != 0) {
            levels[names[line[1]]].insert(line[0]);
        }
    }
    return levels;
}

class WireViewTest : public BoardTest {
  protected:
    void SetUp() override {
        BoardTest::SetUp();
        dir = fs::temp_directory_path() / ("varkel-wire-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        BoardTest::TearDown();
        fs::remove_all(dir);
    }
    // Sends the message `count` times, a second apart, as the program does.
    void SendMessages(int count) {
        for (int i = 0; i < count; ++i) {
            SspSendBuffer(kMessage.data(), static_cast<std::int32_t>(kMessage.size()));
            board->Sleep(1000000000);
        }
    }
    fs::path dir;
};

TEST_F(WireViewTest, SigrokDecodesEveryMessageFromTheWaveform) {
    if (std::system("command -v sigrok-cli >/dev/null 2>&1") != 0) {
        if (std::getenv("VARKEL_REQUIRE_SIGROK") != nullptr) {
            FAIL() << "sigrok-cli is required here but not installed";
        }
        GTEST_SKIP() << "sigrok-cli is not installed (Debian package sigrok-cli)";
    }
    host::Reset();
    std::ostringstream out;
    std::ostringstream err;
    const fs::path vcd = dir / "run.vcd";
    ASSERT_EQ(RunSimulatorQuietly({"--time", "virtual", "--vcd", vcd.string()},
                                  (dir / "console.txt").string(), (dir / "stderr.txt").string(), out, err),
              0);

    // Idle seconds compressed and 50 ns samples, as a person would import it.
    const std::string decode =
        "sigrok-cli -I vcd:compress=1000:downsample=50 "
        "-P spi:clk=sclk:mosi=txd:cs=sfrm:cpol=0:cpha=";
    std::string expected;
    for (int i = 0; i < 10000; ++i) {
        expected.append(kMessage.begin(), kMessage.end());
    }
    EXPECT_TRUE(RunCommand(decode + "0 -B spi=mosi -i " + vcd.string() + " 2>&1") == expected);

    // The wrong clock phase must not read the message, or the check above
    // could not fail. The first three messages are enough for that.
    std::ifstream in(vcd);
    std::ofstream head(dir / "head.vcd");
    for (std::string line; std::getline(in, line);) {
        if (line[0] == '#' && std::stoull(line.substr(1)) > 2500000000ull) {
            break;
        }
        head << line << '\n';
    }
    head << "#2500000000\n";  // a reader needs the closing timestamp
    head.close();
    const std::string firstThree = expected.substr(0, 27);
    EXPECT_EQ(RunCommand(decode + "0 -B spi=mosi -i " + (dir / "head.vcd").string() + " 2>&1"), firstThree);
    EXPECT_NE(RunCommand(decode + "1 -B spi=mosi -i " + (dir / "head.vcd").string() + " 2>&1"), firstThree);
}

TEST_F(WireViewTest, PinsNotRoutedToThePortAreADeadWire) {
    sim::OutputFile file;
    std::string error;
    ASSERT_TRUE(file.Open((dir / "dead.vcd").string(), error));
    sim::VcdWriter vcd(file, false);
    board->AddListener(&vcd);
    MapAndConfigure();
    // Pin 84 turned into an input: the port shifts, but nothing drives TXD.
    RegUpdate(GpioRegPtr, gpio::kDirection64, gpio::DirectionBit(84), 0);
    const std::uint64_t unrouted = board->Now();
    SendMessages(1);
    board->Finish();
    ASSERT_TRUE(file.Commit(error));

    auto levels = SignalLevels(ReadFile(dir / "dead.vcd"), unrouted);
    EXPECT_EQ(frames.frames.size(), 9u);
    EXPECT_EQ(levels["txd"], (std::set<char>{}));  // went to z at `unrouted`, stayed
    EXPECT_EQ(levels["sclk"], (std::set<char>{'0', '1'}));
    EXPECT_EQ(levels["sfrm"], (std::set<char>{'0', '1'}));
    EXPECT_EQ(levels["rxd"], (std::set<char>{}));  // no jumper: never driven
}

TEST_F(WireViewTest, WaveformFollowsTheProgrammedRateAndEndsAfterTheLastChange) {
    sim::OutputFile file;
    std::string error;
    ASSERT_TRUE(file.Open((dir / "one.vcd").string(), error));
    sim::VcdWriter vcd(file, true);
    board->AddListener(&vcd);
    SspClockRate = 1;  // 200 ns bits
    MapAndConfigure();
    const std::uint8_t byte = 0xC1;  // 1100 0001: reads differently LSB first
    SspSendBuffer(&byte, 1);
    board->Sleep(100000);
    board->Finish();
    ASSERT_TRUE(file.Commit(error));
    const std::string text = ReadFile(dir / "one.vcd");

    ASSERT_EQ(frames.frames.size(), 1u);
    const std::uint64_t t0 = frames.frames[0].startNs;
    // MSB first, changing on falling edges: TXD high for two bits, low for
    // five, high for the last; the jumpered RXD follows.
    const std::string start = "#" + std::to_string(t0) + "\n0\"\n1#\n1$\n";
    const std::string firstRise = "#" + std::to_string(t0 + 100) + "\n1!\n";
    const std::string secondFall = "#" + std::to_string(t0 + 200) + "\n0!\n#";
    const std::string thirdBit = "#" + std::to_string(t0 + 2 * 200) + "\n0!\n0#\n0$\n";
    const std::string lastBit = "#" + std::to_string(t0 + 7 * 200) + "\n0!\n1#\n1$\n";
    EXPECT_NE(text.find(start), std::string::npos);
    EXPECT_NE(text.find(firstRise), std::string::npos);
    EXPECT_NE(text.find(secondFall), std::string::npos);
    EXPECT_NE(text.find(thirdBit), std::string::npos);
    EXPECT_NE(text.find(lastBit), std::string::npos);
    // Timestamps never go backwards, and the file ends on one.
    std::istringstream in(text);
    std::uint64_t last = 0;
    std::string line;
    std::string final;
    while (std::getline(in, line)) {
        if (line[0] == '#') {
            const std::uint64_t t = std::stoull(line.substr(1));
            EXPECT_GE(t, last);
            last = t;
        }
        final = line;
    }
    EXPECT_EQ(final[0], '#');
    EXPECT_GT(last, t0 + 8 * 200);
}

TEST_F(WireViewTest, TraceFoldsRepeatedReadsOnly) {
    MakeBoard({.txStuck = true});
    sim::OutputFile file;
    std::string error;
    ASSERT_TRUE(file.Open((dir / "trace.txt").string(), error));
    sim::TraceLog trace(file);
    board->AddListener(&trace, true);
    MapAndConfigure();
    SspSendBuffer(kMessage.data(), 9);
    RegWrite(SspRegPtr, ssp::kData, 0x41);
    SspSendBuffer(kMessage.data(), 1);
    board->Finish();
    ASSERT_TRUE(file.Commit(error));

    std::istringstream in(ReadFile(dir / "trace.txt"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line.substr(line.find(' ') + 1));  // drop the time
    }
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[0], "R clock enable      +0x004 0x004003E1");
    EXPECT_EQ(lines[1], "W clock enable      +0x004 0x004001E1");
    EXPECT_EQ(lines[20], "R ssp   status      +0x008 0x00000000 x262144");
    EXPECT_EQ(lines[21], "W ssp   data        +0x010 0x00000041");
    EXPECT_EQ(lines[22], "R ssp   status      +0x008 0x00000000 x262144");
}

TEST_F(WireViewTest, EveryListedByteIsOnTheWireOrStillQueued) {
    struct Case {
        const char* name;
        sim::BoardOptions options;
    };
    for (const Case& c : {Case{"clock-off", {.clockOff = true}}, Case{"tx-slow", {.txSlow = 100000}}}) {
        SCOPED_TRACE(c.name);
        MakeBoard(c.options);
        MapAndConfigure();
        SendMessages(6);
        board->Finish();

        // Bytes the debug lines list, in order.
        std::vector<std::uint8_t> listed;
        std::istringstream lines(debugText);
        for (std::string line; std::getline(lines, line);) {
            const std::string hex = line.substr(17, line.size() - 18);
            for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
                listed.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
            }
        }
        std::vector<std::uint8_t> accounted;
        for (const sim::Frame& frame : frames.frames) {
            accounted.push_back(static_cast<std::uint8_t>(frame.value));
        }
        const sim::SspModel& port = board->ssp();
        if (port.shifting()) {
            accounted.push_back(static_cast<std::uint8_t>(port.inShifter().value));
        }
        for (std::size_t i = 0; i < port.txLevel() - (port.shifting() ? 1 : 0); ++i) {
            accounted.push_back(static_cast<std::uint8_t>(port.queuedFrame(i)));
        }
        EXPECT_EQ(accounted, listed);
        EXPECT_LT(listed.size(), 54u);  // the fault did cost something
        EXPECT_GT(SspSendGiveUps, 0u);
        EXPECT_EQ(port.stats.txDropped, 0u);
    }
}

TEST_F(WireViewTest, AccessListenerAddedWhileAStatusIsRememberedSeesTheNextRead) {
    MapAndConfigure();
    const std::uint64_t before = board->Now();
    (void)RegRead(SspRegPtr, ssp::kStatus);
    (void)RegRead(SspRegPtr, ssp::kStatus);  // answered from the remembered status
    RecordAccesses();
    (void)RegRead(SspRegPtr, ssp::kStatus);
    ASSERT_EQ(accesses.accesses.size(), 1u);
    EXPECT_EQ(accesses.accesses[0].ns, before + 3 * sim::kBusAccessNs);
}

TEST_F(WireViewTest, PollOnARememberedStatusCountsEveryRead) {
    // Answered from the remembered status in runs cut at the board's stop
    // checks, a wait must still count and charge every read it makes.
    std::uint64_t accessesBefore = 0;
    std::uint64_t nowBefore = 0;
    auto mark = [&] {
        accessesBefore = board->accesses();
        nowBefore = board->Now();
    };
    auto expectReads = [&](std::uint64_t reads) {
        EXPECT_EQ(board->accesses() - accessesBefore, reads);
        EXPECT_EQ(board->Now() - nowBefore, reads * sim::kBusAccessNs);
        mark();
    };
    MakeBoard({.txStuck = true});
    MapAndConfigure();
    mark();
    EXPECT_FALSE(PollRegisterUntilSet(SspRegPtr, ssp::kStatus, ssp::kTxNotFull, kPollLimit));
    expectReads(kPollLimit + 1);
    EXPECT_FALSE(PollRegisterUntilSet(SspRegPtr, ssp::kStatus, ssp::kTxNotFull, 9));
    expectReads(10);

    MakeBoard({});
    MapAndConfigure();
    mark();
    for (int i = 0; i < 3; ++i) {  // the first remembers, the others are answered
        EXPECT_TRUE(PollRegisterUntilSet(SspRegPtr, ssp::kStatus, ssp::kTxNotFull, kPollLimit));
        expectReads(1);
    }
}

TEST_F(WireViewTest, RememberedStatusGivesTheSameRunAsFullModelReads) {
    // The same slow port polled with and without an access listener, which
    // turns the bus's fast status path off: every figure must agree.
    auto run = [&](bool listen) {
        MakeBoard({.txSlow = 3});
        if (listen) {
            RecordAccesses();
        }
        MapAndConfigure();
        for (int i = 0; i < 15; ++i) {
            RegWrite(SspRegPtr, ssp::kData, 0xEE);
        }
        SendMessages(3);
        std::vector<std::uint64_t> figures{board->Now(), board->accesses(), SspSendGiveUps};
        for (const sim::Frame& frame : frames.frames) {
            figures.push_back(frame.startNs);
            figures.push_back(frame.value);
            figures.push_back(frame.bitNs);
        }
        return figures;
    };
    const auto fast = run(false);
    const auto full = run(true);
    EXPECT_EQ(fast, full);
    EXPECT_EQ(full[3 + 2], 2100u);  // the slow port's bit time: 700 ns x 3
}

}  // namespace
