// The waveform as a viewer or an analyser's decoder reads it: bit order
// and rate, unrouted pins and cut frames, a window of board time, and
// sigrok's reading of a whole run.
#include "sim/vcd_writer.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/sequence.h"
#include "hw/reg_io.h"
#include "sim/wire_log.h"
#include "ssp/ssp.h"
#include "tests/board_fixture.h"
#include "tools/varkel-sim/viewer_files.h"

namespace {

// Values each VCD signal (by name) takes at times in (afterNs, untilNs].
std::map<std::string, std::set<char>> SignalLevels(const std::string& vcd, std::uint64_t afterNs,
                                                   std::uint64_t untilNs = ~std::uint64_t{0}) {
    std::map<char, std::string> names;
    std::map<std::string, std::set<char>> levels;
    bool inside = false;
    for (const std::string& line : Lines(vcd)) {
        if (line.rfind("$var wire 1 ", 0) == 0) {
            names[line[12]] = line.substr(14, line.find(" $end") - 14);
        } else if (line.rfind("#", 0) == 0) {
            inside = std::stoull(line.substr(1)) > afterNs && std::stoull(line.substr(1)) <= untilNs;
        } else if (inside && line.size() == 2 && names.count(line[1]) != 0) {
            levels[names[line[1]]].insert(line[0]);
        }
    }
    return levels;
}

class VcdWriterTest : public BoardTest {};

TEST_F(VcdWriterTest, WaveformIsMsbFirstAtTheProgrammedRate) {
    StringSink sink;
    sim::VcdWriter vcd(sink, sim::RxdLine::Loopback, {});
    board->AddListener(&vcd);
    SspClockRate = 1;  // 200 ns bits
    MapAndConfigure();
    const std::uint8_t byte = 0xC1;  // 1100 0001: reads differently LSB first
    SspSendBuffer(&byte, 1);
    board->Sleep(100000);
    board->Finish();

    ASSERT_EQ(frames.ended.size(), 1u);
    const std::uint64_t t0 = frames.ended[0].frame.startNs;
    const std::string& text = sink.text;
    // Frame low and the first bit out together, the clock rising mid-bit,
    // data changing on the falling edge; the jumpered RXD follows TXD.
    for (const std::string& piece :
         {"#" + std::to_string(t0) + "\n0\"\n1#\n1$\n", "#" + std::to_string(t0 + 100) + "\n1!\n",
          "#" + std::to_string(t0 + 400) + "\n0!\n0#\n0$\n",
          "#" + std::to_string(t0 + 1400) + "\n0!\n1#\n1$\n",
          "#" + std::to_string(t0 + 1600) + "\n0!\n1\"\n0#\n0$\n"}) {
        EXPECT_NE(text.find(piece), std::string::npos) << piece;
    }
    std::uint64_t last = 0;
    for (const std::string& line : Lines(text)) {
        if (line[0] == '#') {
            EXPECT_GE(std::stoull(line.substr(1)), last);
            last = std::stoull(line.substr(1));
        }
    }
    EXPECT_EQ(Lines(text).back()[0], '#');  // a reader keeps the last change
    EXPECT_GT(last, t0 + 1600);
}

TEST_F(VcdWriterTest, UnroutedPinsAndCutFramesShowOnTheWaveform) {
    StringSink sink;
    sim::VcdWriter vcd(sink, sim::RxdLine::High, {});
    board->AddListener(&vcd);
    MapAndConfigure();
    RegWrite(GpioRegPtr, 0x14, 0x0A0000);  // pin 84 an input: TXD is not driven
    const std::uint64_t unrouted = board->Now();
    SendMessages(1);
    RegWrite(GpioRegPtr, 0x14, 0x1A0000);
    const std::uint64_t rerouted = board->Now();
    SspWriteByte(0xFF);
    for (int i = 0; i < 20; ++i) {
        (void)RegRead(SspRegPtr, 0x08);
    }
    RegWrite(SspRegPtr, 0x00, 0x607);  // disabled mid-frame
    const std::uint64_t cut = board->Now();
    board->Sleep(1000000);
    board->Finish();

    EXPECT_EQ(frames.ended.size(), 10u);
    EXPECT_EQ(frames.ended.back().fate, sim::FrameFate::Cut);
    const auto whileUnrouted = SignalLevels(sink.text, unrouted, rerouted - 1);
    EXPECT_EQ(whileUnrouted.at("sclk"), (std::set<char>{'0', '1'}));
    EXPECT_EQ(whileUnrouted.count("txd"), 0u);  // went to z at `unrouted`, stayed
    EXPECT_EQ(whileUnrouted.count("rxd"), 0u);  // the receive line idles high throughout
    EXPECT_EQ(SignalLevels(sink.text, cut - 1, cut).at("sfrm"),
              (std::set<char>{'1'}));                   // the frame ends at the cut
    EXPECT_TRUE(SignalLevels(sink.text, cut).empty());  // and nothing follows
}

TEST_F(VcdWriterTest, WindowWritesOnlyItsOwnStretchOfBoardTime) {
    StringSink full;
    StringSink part;
    sim::VcdWriter all(full, sim::RxdLine::High, {});
    sim::VcdWriter window(part, sim::RxdLine::High, {1000000000, 2000020000});
    varkel_sim::FirstBurst burst(1000000000, 2000020000);
    board->AddListener(&burst);
    board->AddListener(&all);
    board->AddListener(&window);
    MapAndConfigure();
    SendMessages(3);
    board->Finish();

    // The window opens with the pins as they were, then the changes inside it.
    const std::string& text = part.text;
    const std::string opening = "#1000000000\n$dumpvars\n0!\n1\"\n0#\n1$\n$end\n";
    const std::size_t open = text.find(opening);
    ASSERT_NE(open, std::string::npos);
    std::string inside;
    bool in = false;
    for (const std::string& line : Lines(full.text)) {
        if (line[0] == '#') {
            in = std::stoull(line.substr(1)) >= 1000000000 && std::stoull(line.substr(1)) <= 2000020000;
        }
        inside += in ? line + "\n" : "";
    }
    const std::size_t from = open + opening.size();
    const std::string changes = text.substr(from, text.rfind('#') - from);
    EXPECT_EQ(changes, inside);
    EXPECT_EQ(text.substr(text.rfind('#')), "#2000020000\n");  // closed at the window's end
    ASSERT_EQ(burst.frames().size(), 9u);                      // the window's first message
    EXPECT_GE(burst.frames()[0].startNs, 1000000000u);
}

TEST_F(VcdWriterTest, SigrokDecodesEveryMessageOfAFullRun) {
    if (std::system("command -v sigrok-cli >/dev/null 2>&1") != 0) {
        if (std::getenv("VARKEL_REQUIRE_SIGROK") != nullptr) {
            FAIL() << "sigrok-cli is required here but not installed";
        }
        GTEST_SKIP() << "sigrok-cli is not installed (Debian package sigrok-cli)";
    }
    TempDir dir;
    StringSink sink;
    sim::VcdWriter vcd(sink, sim::RxdLine::High, {});
    board->AddListener(&vcd);
    ASSERT_EQ(PortTestMain(nullptr, nullptr, nullptr, 0), 0);
    board->Finish();
    {
        std::ofstream(dir / "run.vcd") << sink.text;
        // The first three messages only, closed by a timestamp.
        std::ofstream head(dir / "head.vcd");
        for (const std::string& line : Lines(sink.text)) {
            if (line[0] == '#' && std::stoull(line.substr(1)) > 2500000000) {
                break;
            }
            head << line << "\n";
        }
        head << "#2500000000\n";
    }
    // Idle seconds compressed and 50 ns samples, as the README gives it.
    auto decode = [&](const std::string& file, int cpha) {
        std::string output;
        const std::string command =
            "sigrok-cli -I vcd:compress=1000:downsample=50 -P spi:clk=sclk:mosi=txd:cs=sfrm:cpha=" +
            std::to_string(cpha) + " -B spi=mosi -i " + (dir / file) + " 2>&1";
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
                output.append(buffer, n);
            }
            ::pclose(pipe);
        }
        return output;
    };
    std::string expected;
    for (int i = 0; i < 10000; ++i) {
        expected.append(std::begin(kProgramMessage), std::end(kProgramMessage));
    }
    EXPECT_TRUE(decode("run.vcd", 0) == expected);
    EXPECT_EQ(decode("head.vcd", 0), expected.substr(0, 27));
    EXPECT_NE(decode("head.vcd", 1), expected.substr(0, 27));  // the other phase must not read it
}

}  // namespace
