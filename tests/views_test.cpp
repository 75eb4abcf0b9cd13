// What a person sees of the board: the waveform and its viewer file, the
// register trace, the wire log, and that answering a wait's reads in one
// step changes none of them.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/sequence.h"
#include "hw/map_physical.h"
#include "hw/reg_io.h"
#include "sim/trace_log.h"
#include "sim/vcd_writer.h"
#include "sim/wire_log.h"
#include "ssp/ssp.h"
#include "tests/board_fixture.h"
#include "tools/varkel-sim/viewer_files.h"

namespace {

constexpr std::uint8_t kMessage[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};

struct StringSink : sim::TextSink {
    std::string text;
    void Write(std::string_view more) override { text.append(more); }
};

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

class ViewsTest : public BoardTest {
  protected:
    void SendMessages(int count) {
        for (int i = 0; i < count; ++i) {
            SspSendBuffer(kMessage, 9);
            board->Sleep(1000000000);
        }
    }
};

TEST_F(ViewsTest, WaveformIsMsbFirstAtTheProgrammedRate) {
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

TEST_F(ViewsTest, UnroutedPinsAndCutFramesShowOnTheWaveform) {
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

TEST_F(ViewsTest, WindowWritesOnlyItsOwnStretchOfBoardTime) {
    StringSink full;
    StringSink part;
    sim::VcdWriter all(full, sim::RxdLine::High, {});
    sim::VcdWriter window(part, sim::RxdLine::High, {1000000000, 2000020000});
    runner::FirstBurst burst(1000000000, 2000020000);
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

TEST_F(ViewsTest, GtkwaveFileOpensOnTheFirstMessageWithItsBytesMarked) {
    EXPECT_EQ(runner::GtkwavePath("out/run.vcd"), "out/run.gtkw");
    EXPECT_EQ(runner::GtkwavePath("out.d/run"), "out.d/run.gtkw");
    std::vector<sim::Frame> burst;
    for (std::uint64_t i = 0; i < 9; ++i) {
        burst.push_back({2100 + i * 6300, kMessage[i], 8, 700});
    }
    const auto lines = Lines(runner::GtkwaveSaveFile("/data/run.vcd", burst));
    const std::vector<std::string> tail(lines.end() - 5, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"@28", "ssp.sclk", "ssp.sfrm", "ssp.txd", "ssp.rxd"}));
    EXPECT_EQ(lines[1], "[dumpfile] \"/data/run.vcd\"");
    EXPECT_EQ(lines[2], "[timestart] 0");  // four bits before 2100 ns, clamped
    EXPECT_EQ(lines[5].substr(0, 26), "*-13.370593 -1 2450 8750 1");
    EXPECT_EQ(lines[6], "[markername] AZ");
    EXPECT_EQ(lines[9], "[markername] D0x20");
    EXPECT_EQ(lines[14], "[markername] I0x00");
}

TEST_F(ViewsTest, TraceNamesEveryColumnAndFoldsEachWaitOnItsOwn) {
    MakeBoard({.faults = {.txStuck = true}});
    StringSink sink;
    sim::TraceLog trace(sink);
    board->AddListener(&trace);
    MapAndConfigure();
    SspSendBuffer(kMessage, 9);
    SspSendBuffer(kMessage, 9);
    RegWrite(SspRegPtr, 0x10, 0x41);
    (void)RegRead(SspRegPtr, 0x08);
    (void)RegRead(SspRegPtr, 0x08);
    board->Finish();

    const auto lines = Lines(sink.text);
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[0], "# time_s R/W block register offset physical value [xcount] [status bits]");
    EXPECT_EQ(lines[1], "0.000000100 R clock enable    +0x004 0x41300004 0x004003E1");
    EXPECT_EQ(lines[15], "0.000001500 W ssp   status    +0x008 0x41900008 0x00000080 {rx-overrun}");
    EXPECT_EQ(lines[21], "0.000002100 R ssp   status    +0x008 0x41900008 0x00000000 x262144 {}");
    EXPECT_EQ(lines[22], "0.026216500 R ssp   status    +0x008 0x41900008 0x00000000 x262144 {}");
    EXPECT_EQ(lines[23], "0.052430900 W ssp   data      +0x010 0x41900010 0x00000041");
    EXPECT_EQ(lines[24], "0.052431000 R ssp   status    +0x008 0x41900008 0x00000000 x2 {}");
}

// The same run answered one read at a time and in one step per quiet
// stretch: every figure and every file must agree.
struct RunRecord {
    std::vector<std::uint64_t> figures;
    std::vector<Traffic> traffic;
    std::string wire, vcd, trace;
    std::uint64_t accessEvents = 0;
};

struct EventCounter : sim::BoardListener {
    std::uint64_t events = 0;
    void OnAccess(const sim::Access&) override { ++events; }
};

class WaitExactnessTest : public ViewsTest {
  protected:
    RunRecord Run(sim::BoardOptions options, int prefill, int messages) {
        MakeBoard(options);
        StringSink wire, vcd, trace;
        sim::WireLog wireLog(wire);
        sim::VcdWriter vcdWriter(vcd, options.rxd, {});
        sim::TraceLog traceLog(trace);
        EventCounter counter;
        for (sim::BoardListener* l :
             std::initializer_list<sim::BoardListener*>{&wireLog, &vcdWriter, &traceLog, &counter}) {
            board->AddListener(l);
        }
        MapAndConfigure();
        for (int i = 0; i < prefill; ++i) {
            SspWriteByte(0xEE);
        }
        SendMessages(messages);
        board->Finish();
        const sim::BoardStats& s = board->stats();
        return {{board->Now(), s.accesses, s.framesOnWire, giveUps.sendsGaveUp(),
                 board->portStats().framesReceived, board->portStats().rxDropped},
                traffic.traffic,
                wire.text,
                vcd.text,
                trace.text,
                counter.events};
    }
};

TEST_F(WaitExactnessTest, OneStepAnswersAreExactlyTheReadsOneByOne) {
    struct Case {
        const char* name;
        sim::BoardOptions options;
        int prefill;
        int messages;
    };
    for (const Case& c :
         {Case{"slow port, stalls that end", {.faults = {.txSlow = 3}}, 15, 3},
          Case{"very slow port, waits that give up mid-frame", {.faults = {.txSlow = 20000}}, 15, 3},
          Case{"stopped clock", {.faults = {.clockOff = true}}, 0, 3},
          Case{"stuck FIFO", {.faults = {.txStuck = true}}, 0, 2}}) {
        SCOPED_TRACE(c.name);
        sim::BoardOptions slow = c.options;
        slow.oneReadAtATime = true;
        const RunRecord fast = Run(c.options, c.prefill, c.messages);
        const RunRecord exact = Run(slow, c.prefill, c.messages);
        EXPECT_EQ(fast.figures, exact.figures);
        EXPECT_EQ(fast.traffic, exact.traffic);
        EXPECT_EQ(fast.wire, exact.wire);
        EXPECT_EQ(fast.vcd, exact.vcd);
        EXPECT_EQ(fast.trace, exact.trace);
        EXPECT_GT(exact.accessEvents, 10 * fast.accessEvents);  // the shortcut did answer in steps
    }
}

TEST_F(WaitExactnessTest, AWaitWhereTheBoardHasNothingIsCountedTheSame) {
    std::vector<std::uint64_t> figures[2];
    std::vector<Traffic> seen[2];
    for (const bool exact : {false, true}) {
        MakeBoard({.oneReadAtATime = exact});
        MapAndConfigure();
        RegisterWindow nothing = MapPhysicalAddr(0x50000000, 4);
        EXPECT_FALSE(RegPollUntilSet(SspRegPtr, 0x0C, 0x04, 999));  // no register at +0x0C
        EXPECT_FALSE(RegPollUntilSet(nothing, 0, 0x04, 499));       // no device at all
        const sim::BoardStats& s = board->stats();
        figures[exact] = {board->Now(), s.accesses, s.unknownRegisterAccesses, s.noDeviceAccesses};
        seen[exact] = traffic.traffic;
    }
    EXPECT_EQ(figures[0],
              (std::vector<std::uint64_t>{2000 + 150000, 20 + 1500, 1000, 500}));  // after the set-up's 20
    EXPECT_EQ(figures[1], figures[0]);
    EXPECT_EQ(seen[1], seen[0]);
}

TEST_F(ViewsTest, SigrokDecodesEveryMessageOfAFullRun) {
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
        expected.append(std::begin(kMessage), std::end(kMessage));
    }
    EXPECT_TRUE(decode("run.vcd", 0) == expected);
    EXPECT_EQ(decode("head.vcd", 0), expected.substr(0, 27));
    EXPECT_NE(decode("head.vcd", 1), expected.substr(0, 27));  // the other phase must not read it
}

}  // namespace
