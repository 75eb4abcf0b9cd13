// varkel-check on captures as a logic analyser saves them: clean ones,
// deliberately wrong ones, the simulated board's own, and sigrok's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "common/escape.h"
#include "tests/capture_gen.h"
#include "tests/test_files.h"
#include "tools/varkel-check/capture/session_writer.h"
#include "tools/varkel-check/cli/mismatch_windows.h"
#include "tools/varkel-check/judge/checker.h"

namespace {

struct Result {
    int status;
    std::vector<std::string> lines;  // stdout and stderr
};

Result Shell(const std::string& command) {
    Result r{0, {}};
    std::string output;
    if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, n);
        }
        r.status = WEXITSTATUS(::pclose(pipe));
    }
    r.lines = Lines(output);
    return r;
}

bool HaveSigrok() {
    if (std::system("command -v sigrok-cli >/dev/null 2>&1") == 0) {
        return true;
    }
    if (std::getenv("VARKEL_REQUIRE_SIGROK") != nullptr) {
        ADD_FAILURE() << "sigrok-cli is required here but not installed";
    }
    return false;
}

class CheckTest : public ::testing::Test {
  protected:
    Result Check(const WaveSpec& spec, const std::string& options = "") {
        std::ofstream(dir / "capture.vcd") << MakeVcd(spec);
        return Run(dir / "capture.vcd", options);
    }
    Result Run(const std::string& capture, const std::string& options = "") {
        return Shell(std::string(VARKEL_CHECK_BINARY) + " " + options + " " + capture);
    }
    TempDir dir;
};

TEST_F(CheckTest, CleanCapturesMatchHoweverTheyWereSampled) {
    WaveSpec spec;
    spec.messages = ProgramMessages(10);
    Result r = Check(spec);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines.at(0),
              "varkel-check: match: 10 messages (90 frames), bit time 700.0 ns (expected 700.0 ns), message "
              "interval 1000.000 ms");

    // A few MHz of sampling with a sample of jitter; other names, scope and
    // timescale; a capture that starts inside a frame and ends inside one.
    spec.samplePeriodS = 125e-9;  // 8 MHz
    spec.jitter = true;
    spec.timescale = "100 ps";
    spec.tickS = 100e-12;
    spec.scope = "la.probe";
    spec.sclk = "CLK";
    spec.sfrm = "CS_N";
    spec.txd = "Mosi";
    spec.captureStartS = 0.001 + 2.5 * 6300e-9;  // in the third frame of the first message
    spec.captureEndS = 9.001 + 4.5 * 6300e-9;    // in the fifth of the last
    r = Check(spec, "--sclk clk --sfrm cs_n --txd MOSI");
    EXPECT_EQ(r.status, 0) << r.lines.at(0);
    EXPECT_EQ(r.lines.at(0).substr(0, 48), "varkel-check: match: 8 messages (72 frames), bit");
    EXPECT_EQ(r.lines.at(2),
              "  frames: 72 in complete messages; partial frames left out: 1 at the start, 1 at the end");
    EXPECT_EQ(r.lines.at(3),
              "  messages: 8 complete; partial messages left out: 1 at the start, 1 at the end");

    spec = WaveSpec{};
    spec.messages = ProgramMessages(2);
    spec.samplePeriodS = 250e-9;  // 4 MHz, steady
    EXPECT_EQ(Check(spec).status, 0);
    spec.samplePeriodS = 0;
    spec.timescale = "1fs";
    spec.tickS = 1e-15;
    EXPECT_EQ(Check(spec).status, 0);
}

TEST_F(CheckTest, BothFramingsPassAndTheDetailsSayWhichTheCaptureShowed) {
    auto lineWith = [](const Result& r, const std::string& start) {
        for (const std::string& line : r.lines) {
            if (line.rfind(start, 0) == 0) {
                return line;
            }
        }
        return std::string();
    };
    WaveSpec spec;
    spec.messages = ProgramMessages(10);
    Result r = Check(spec);  // a frame pulse per word, as the simulated board's port
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(lineWith(r, "  framing:"), "  framing: 90 words, each in a select period of its own");

    spec.selectHeld = true;  // the frame line held low through each message
    r = Check(spec);
    EXPECT_EQ(r.status, 0) << r.lines.at(0);
    EXPECT_EQ(lineWith(r, "  framing:"), "  framing: 90 words in select periods held across several");

    // The capture begins inside message 1, its select already low: that
    // message is left out, and said so; the other nine match.
    spec.captureStartS = 0.001 + 3.5 * 6300e-9;
    r = Check(spec);
    EXPECT_EQ(r.status, 0) << r.lines.at(0);
    EXPECT_EQ(r.lines.at(0).rfind("varkel-check: match: 9 messages (81 frames)", 0), 0u) << r.lines.at(0);
    EXPECT_EQ(lineWith(r, "  messages:"),
              "  messages: 9 complete; partial messages left out: 1 at the start, 0 at the end");
    EXPECT_EQ(lineWith(r, "  warning:"), "");

    // Data that changes on its clock edge's own sample is read as changed,
    // as an analyser's decoder reads it, and the reading is flagged.
    spec = WaveSpec{};
    spec.messages = ProgramMessages(2);
    spec.otherPhase = true;
    spec.dataDelayS = 0;
    r = Check(spec);
    EXPECT_EQ(r.status, 0) << r.lines.at(0);
    const std::string warning = lineWith(r, "  warning:");
    EXPECT_EQ(warning.rfind("  warning: sample faster: ", 0), 0u) << warning;
    EXPECT_NE(warning.find(" bits changed on the sample of their clock edge"), std::string::npos);
}

TEST_F(CheckTest, EachFaultIsNamedWhereItIs) {
    struct Case {
        const char* name;
        void (*spoil)(WaveSpec&);
        std::string verdict;
    };
    const std::vector<Case> cases = {
        {"a bit flipped", [](WaveSpec& w) { w.messages[2][3] ^= 0x04; },
         "varkel-check: mismatch at 2.001019 s, message 3, byte 4: expected 0x20, seen 0x24 '$' (bit 2 "
         "differs)"},
        {"a frame dropped", [](WaveSpec& w) { w.messages[1].erase(w.messages[1].begin() + 4); },
         "varkel-check: mismatch at 1.001025 s, message 2, byte 5: frame 5 (0x4E 'N') is missing"},
        {"a frame added", [](WaveSpec& w) { w.messages[1].insert(w.messages[1].begin() + 2, 0x99); },
         "varkel-check: mismatch at 1.001013 s, message 2, byte 3: an extra frame (0x99) before byte 3"},
        {"LSB first", [](WaveSpec& w) { w.lsbFirst = true; },
         "varkel-check: mismatch at 0.001000 s, message 1: bits in reverse order: the bytes read right LSB "
         "first"},
        {"the other clock phase", [](WaveSpec& w) { w.otherPhase = true; },
         "varkel-check: mismatch: the data changes on the rising clock edge in 32 of 32 frames and is right "
         "only "
         "sampled on the falling one: the other clock phase (CPHA 1, SPI mode 1)"},
        {"the other clock polarity",
         [](WaveSpec& w) {
             w.clockIdleHigh = true;
             w.selectHoldS = 50e-9;
         },
         "varkel-check: mismatch: the clock rests high in 72 of 72 rests while selected: the other clock "
         "polarity (CPOL 1; the data changes on its rising edge: SPI mode 2)"},
        // The port's own frame line ends with its last edge: a last rising
        // edge is then lost as sigrok reads it (said to be the sampling's in
        // the next cause), and with it the words that show the phase.
        {"the other clock polarity, the frame ending with the last edge",
         [](WaveSpec& w) { w.clockIdleHigh = true; },
         "varkel-check: mismatch: the clock rests high in 36 of 36 rests while selected: the other clock "
         "polarity (CPOL 1; SPI mode 2 or 3)"},
        {"bit time 10% long", [](WaveSpec& w) { w.bitS = 770e-9; },
         "varkel-check: mismatch at 0.001000 s, message 1, byte 1: bit time 770.0 ns is 10.0% longer than "
         "the "
         "expected 700.0 ns"},
        {"messages 1.5 s apart", [](WaveSpec& w) { w.intervalS = 1.5; },
         "varkel-check: mismatch at 1.501000 s, message 2: message interval 1500.000 ms since message 1, "
         "expected "
         "1000 ms +/- 5 ms"},
        {"nothing sent", [](WaveSpec& w) { w.messages.clear(); },
         "varkel-check: mismatch: no activity on sclk, sfrm or txd: the port sent nothing, or its pins are "
         "not these"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WaveSpec spec;
        spec.messages = ProgramMessages(4);
        c.spoil(spec);
        const Result r = Check(spec);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.lines.at(0), c.verdict);
    }
    WaveSpec spec;  // the frame pin not routed: clock and data, but no frames
    spec.messages = ProgramMessages(2);
    spec.frameLineStuck = true;
    const Result r = Check(spec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lines.at(0),
              "varkel-check: mismatch: sclk or txd change but the frame line never goes low: is sfrm "
              "routed to the port, and is it the signal named here (--sfrm)?");
}

TEST_F(CheckTest, AnUnreadableCaptureIsOneLineAndExitTwoWithNothingWritten) {
    std::ofstream(dir / "text.vcd") << "hello\n";
    std::ofstream(dir / "empty.vcd")
        << "$timescale 1ns $end $var wire 1 ! sclk $end $var wire 1 \" sfrm $end "
           "$var wire 1 # txd $end $enddefinitions $end\n";
    std::ofstream(dir / "wide.vcd") << "$var wire 8 ! sclk $end $enddefinitions $end\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {dir / "missing.vcd",
         "varkel-check: cannot read " + (dir / "missing.vcd") + ": No such file or directory"},
        {dir / "text.vcd",
         "varkel-check: " + (dir / "text.vcd") + " is not a value change dump or a sigrok session file"},
        {dir / "empty.vcd",
         "varkel-check: " + (dir / "empty.vcd") + " holds no samples: no timestamp follows its definitions"},
        {dir / "wide.vcd",
         "varkel-check: signal sclk in " + (dir / "wide.vcd") + " is 8 bits wide, not one wire"},
        {dir / "empty.vcd --txd mosi", "varkel-check: no signal named mosi in " + (dir / "empty.vcd") +
                                           " (it has: sclk, sfrm, txd); name it with --txd"},
        // One reader for both tools' command lines, one set of words.
        {"--help=please a.vcd", "varkel-check: option --help takes no value"},
        {"--until-done=no a.vcd", "varkel-check: option --until-done takes no value"},
        {"--fram f.txt a.vcd", "varkel-check: unknown option '--fram' (see --help)"},
        {"--bit-tolerance x a.vcd",
         "varkel-check: option --bit-tolerance takes a number from 0.01 to 50, not 'x'"},
        {"--message 5A4 a.vcd",
         "varkel-check: option --message takes 1 to 64 words of 8 bits, 2 hex digits each, not '5A4'"},
        {"--message 0x5A a.vcd",
         "varkel-check: option --message takes 1 to 64 words of 8 bits, 2 hex digits each, not '0x5A'"},
        // A message maps onto words of --bits whatever their order on the line.
        {"--message 03 --bits 16 a.vcd",
         "varkel-check: option --message takes 1 to 64 words of 16 bits, 4 hex digits each, not '03'"},
        {"--bits 9 --message 0A5200 a.vcd",
         "varkel-check: option --message: word 2 of '0A5200' is wider than 9 bits (--bits)"},
    };
    for (const auto& [args, line] : cases) {
        SCOPED_TRACE(args);
        const Result r = Run(args + " --json " + (dir / "v.json") + " --wire " + (dir / "f.txt"));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.lines, std::vector<std::string>{line});
        EXPECT_FALSE(std::ifstream(dir / "v.json").good());
        EXPECT_FALSE(std::ifstream(dir / "f.txt").good());
        EXPECT_FALSE(std::ifstream(dir / "f.txt.part").good());
    }
}

TEST_F(CheckTest, TheSimulatedBoardsOwnWaveformsAndSigroksReadingAgree) {
#ifndef VARKEL_SIM_BINARY
    GTEST_SKIP() << "the simulated board is not built here";
#else
    auto simulate = [&](const std::string& name, const std::string& options) {
        const std::string command = std::string(VARKEL_SIM_BINARY) + " --time virtual --quiet --vcd " +
                                    (dir / name) + " --vcd-window 0:3.5 " + options;
        ASSERT_EQ(Shell(command).status, 0);
    };
    simulate("plain.vcd", "--wire " + (dir / "wire.txt"));
    simulate("slow.vcd", "--fault tx-slow:3");
    simulate("off.vcd", "--fault clock-off");
    Result r = Run(dir / "plain.vcd", "--json " + (dir / "v.json") + " --wire " + (dir / "frames.txt"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines.at(0).substr(0, 49), "varkel-check: match: 4 messages (36 frames), bit ");
    EXPECT_NE(ReadFile(dir / "v.json").find("\"verdict\": \"match\""), std::string::npos);
    const auto wire = Lines(ReadFile(dir / "wire.txt"));
    EXPECT_EQ(Lines(ReadFile(dir / "frames.txt")), std::vector<std::string>(wire.begin(), wire.begin() + 36));
    EXPECT_EQ(
        Run(dir / "slow.vcd").lines.at(0),
        "varkel-check: mismatch at 0.000002 s, message 1, byte 1: bit time 2100.0 ns is 3 times the expected "
        "700.0 ns: a port clock or clock-rate setting off by that factor (--port-clock-hz)");
    EXPECT_EQ(Run(dir / "slow.vcd", "--port-clock-hz 3333333.333").status, 0);
    EXPECT_EQ(
        Run(dir / "off.vcd").lines.at(0).rfind("varkel-check: mismatch: no activity on sclk, sfrm or txd", 0),
        0u);

    if (!HaveSigrok()) {
        GTEST_SKIP() << "sigrok-cli is not installed (Debian package sigrok-cli)";
    }
    // sigrok's own SPI decoder reads the same bytes from a sampled capture.
    WaveSpec spec;
    spec.messages = ProgramMessages(3);
    spec.messages[1][6] = 0xA5;
    spec.samplePeriodS = 125e-9;
    spec.jitter = true;
    std::ofstream(dir / "sampled.vcd") << MakeVcd(spec);
    r = Run(dir / "sampled.vcd", "--wire " + (dir / "f.txt"));
    std::string ours;
    for (const std::string& line : Lines(ReadFile(dir / "f.txt"))) {
        ours += static_cast<char>(std::stoul(line.substr(line.find(' ') + 1), nullptr, 16));
    }
    Result sigrok = Shell("sigrok-cli -I vcd:downsample=25 -P spi:clk=sclk:mosi=txd:cs=sfrm -B spi=mosi -i " +
                          (dir / "sampled.vcd") + " > " + (dir / "sigrok.bin"));
    ASSERT_EQ(sigrok.status, 0);
    EXPECT_EQ(ours.size(), 27u);
    EXPECT_EQ(ours, ReadFile(dir / "sigrok.bin"));

    // A session file saved by sigrok-cli from a dump.
    ASSERT_EQ(Shell("sigrok-cli -I vcd:downsample=25 -i " + (dir / "plain.vcd") + " -o " + (dir / "plain.sr"))
                  .status,
              0);
    r = Run(dir / "plain.sr");
    EXPECT_EQ(r.status, 0) << r.lines.at(0);
    EXPECT_EQ(r.lines.at(1).substr(r.lines.at(1).find('(')),
              "(sigrok session, 40000000 samples a second), 0.000000 s to 3.500000 s");
#endif
}

TEST_F(CheckTest, ADamagedOrHostileSessionGetsOneLineAndNoVerdict) {
    auto metadata = [](const std::string& device) {
        return "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n" + device;
    };
    const std::string good =
        "total probes=3\nsamplerate=1 MHz\nprobe1=sclk\nprobe2=sfrm\nprobe3=txd\nunitsize=1\n";
    const std::string samples(4096, '\x02');  // frame line high, nothing else
    std::string million = "total probes=1000000\nsamplerate=1 MHz\nunitsize=1\n";
    for (int i = 1; i <= 1000000; ++i) {
        million += "probe" + std::to_string(i) + "=p\n";
    }
    const std::string path = dir / "board.sr";
    struct Case {
        const char* name;
        std::string zip;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"a channel past the sample width",
         MakeZip({{"version", "2"},
                  {"metadata",
                   metadata("total probes=3\nsamplerate=1 MHz\nprobe1=sclk\nprobe2=sfrm\nprobe70=txd\n"
                            "unitsize=1\n")},
                  {"logic-1-1", samples}}),
         path + ": damaged: it names channel 70 (txd) of a capture with 3"},
        {"a checksum that fails",
         MakeZip(
             {{"version", "2"}, {"metadata", metadata(good)}, {"logic-1-1", samples}, {"logic-1-2", samples}},
             "logic-1-2"),
         path + ": damaged: logic-1-2 fails its checksum"},
        {"a chunk missing",
         MakeZip({{"version", "2"},
                  {"metadata", metadata(good)},
                  {"logic-1-1", samples},
                  {"logic-1-3", samples}}),
         path + ": damaged: logic-1-2 is missing"},
        {"a million channels", MakeZip({{"version", "2"}, {"metadata", metadata(million)}}),
         path + ": damaged: metadata claims 13889007 bytes, more than a session's"},
        {"a channel count no sample holds",
         MakeZip({{"version", "2"},
                  {"metadata", metadata("total probes=1000000\nsamplerate=1 MHz\nunitsize=1\n")}}),
         path + ": damaged: its channel count '1000000' is not 1 to 64"},
        {"no sample rate",
         MakeZip({{"version", "2"}, {"metadata", metadata("total probes=3\nunitsize=1\n")}}),
         path + ": damaged: its metadata gives no sample rate"},
        {"an impossible sample rate",
         MakeZip({{"version", "2"}, {"metadata", metadata("total probes=3\nsamplerate=1e999 Hz\n")}}),
         path + ": damaged: its sample rate '1e999 Hz' is not one an analyser samples at"},
        {"cut short",
         MakeZip({{"version", "2"}, {"metadata", metadata(good)}, {"logic-1-1", samples}}).substr(0, 3000),
         path + ": damaged: not a whole zip archive (its directory's end record is missing: cut short?)"},
        {"control bytes in a name",
         MakeZip({{"version", "2"},
                  {"metadata", metadata("total probes=3\nsamplerate=1 MHz\nprobe1=\x1b[2J\x07" +
                                        std::string(300, 'A') + "\nunitsize=1\n")}}),
         "varkel-check: no signal named sclk in " + path + " (it has: \\x1B[2J\\x07" + std::string(59, 'A') +
             "... (305 bytes)); name it with --sclk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.zip;
        const Result r = Run(path, "--wire " + (dir / "f.txt"));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.lines, std::vector<std::string>{
                               c.line.rfind("varkel-check: ", 0) == 0 ? c.line : "varkel-check: " + c.line});
        EXPECT_FALSE(std::ifstream(dir / "f.txt").good());
    }
    // The same session whole is read, and gives a verdict.
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << MakeZip({{"version", "2"}, {"metadata", metadata(good)}, {"logic-1-1", samples}});
    EXPECT_EQ(Run(path).status, 1);

    // A directory holding more entries than its end record counts (a
    // writer that cut the count to 16 bits): the rest would go unread.
    std::string uncounted = MakeZip({{"version", "2"}, {"metadata", metadata(good)}, {"logic-1-1", samples}});
    uncounted[uncounted.size() - 22 + 8] = uncounted[uncounted.size() - 22 + 10] = 2;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << uncounted;
    EXPECT_EQ(Run(path).lines,
              std::vector<std::string>{"varkel-check: " + path +
                                       ": damaged: its directory holds more than the 2 entries "
                                       "it claims"});

    // A compressed entry claiming more than is unpacked at once is
    // refused as such, not called damaged.
    std::string huge = MakeZip({{"version", "2"}, {"metadata", metadata(good)}, {"logic-1-1", samples}});
    const std::size_t local = huge.find("logic-1-1") - 30, central = huge.rfind("logic-1-1") - 46;
    ASSERT_EQ(huge.compare(local, 4, "PK\x03\x04"), 0);
    ASSERT_EQ(huge.compare(central, 4, "PK\x01\x02"), 0);
    huge[local + 8] = huge[central + 10] = 8;                           // deflated
    huge.replace(central + 24, 4, std::string("\x00\x00\x00\x20", 4));  // unpacking to 512 MiB
    std::ofstream(path, std::ios::binary | std::ios::trunc) << huge;
    EXPECT_EQ(Run(path).lines,
              std::vector<std::string>{"varkel-check: " + path +
                                       ": entry logic-1-1 holds 536870912 bytes, more than this "
                                       "tool unpacks at once (256 MiB)"});

    // sigrok-cli writes an entry a packet: a long capture has many.
    std::vector<std::pair<std::string, std::string>> packets = {{"version", "2"},
                                                                {"metadata", metadata(good)}};
    for (int i = 1; i <= 100001; ++i) {
        packets.emplace_back("logic-1-" + std::to_string(i), std::string(1, '\x02'));
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << MakeZip(packets);
    const Result many = Run(path);
    EXPECT_EQ(many.status, 1);
    ASSERT_GE(many.lines.size(), 2u);
    EXPECT_NE(many.lines[1].find("0.000000 s to 0.100001 s"), std::string::npos) << many.lines[1];
}

TEST_F(CheckTest, NoOutputReplacesTheCaptureAndNumbersStayInRange) {
    WaveSpec spec;
    spec.messages = ProgramMessages(2);
    std::ofstream(dir / "cap.vcd") << MakeVcd(spec);
    const std::string before = ReadFile(dir / "cap.vcd");
    std::filesystem::create_symlink("cap.vcd", dir / "link.vcd");
    std::filesystem::create_hard_link(dir / "cap.vcd", dir / "hard.vcd");
    for (const std::string& output :
         std::vector<std::string>{dir / "cap.vcd", dir / "./cap.vcd", dir / "link.vcd", dir / "hard.vcd"}) {
        SCOPED_TRACE(output);
        for (const char* option : {"--wire ", "--json "}) {
            const Result r = Run(dir / "cap.vcd", option + output);
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.lines, std::vector<std::string>{"varkel-check: cannot write " + output +
                                                        ": it is the capture being checked"});
        }
    }
    EXPECT_EQ(ReadFile(dir / "cap.vcd"), before);

    for (const char* bad : {"--port-clock-hz inf", "--port-clock-hz 1e20", "--bit-tolerance inf",
                            "--interval-tolerance-ms infinity", "--clock-rate 2.5", "--port-clock-hz nan"}) {
        SCOPED_TRACE(bad);
        const Result r = Run(dir / "cap.vcd", std::string(bad));
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.lines.at(0).find("takes a"), std::string::npos);
    }
    // A timescale of 100 s: the bit time is off by far more than any
    // factor, said without overflow.
    spec.timescale = "100 s";
    spec.tickS = 100;
    spec.bitS = 700;
    spec.intervalS = 1e7;
    spec.firstStartS = 1000;
    const Result r = Check(spec);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.lines.at(0).find("is over a million times the expected 700.0 ns"), std::string::npos)
        << r.lines.at(0);
}

// A Unix socket where an output is asked for: refused at once, not waited
// on as a FIFO with no reader. Made in the test's own folder.
bool MakeSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd < 0 || path.size() >= sizeof address.sun_path) {
        return false;
    }
    path.copy(address.sun_path, path.size());
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// Outputs never hang, never mix with the verdict, never harm a file they
// were not asked to write, and say their paths safely.
TEST_F(CheckTest, OutputsNeverHangMixOrHarmAFile) {
    WaveSpec spec;
    spec.messages = ProgramMessages(10);
    std::ofstream(dir / "cap.vcd") << MakeVcd(spec);
    const std::string capture = dir / "cap.vcd";

    ASSERT_TRUE(MakeSocket(dir / "sock"));
    Result r = Run(capture, "--wire " + (dir / "sock"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.lines,
              std::vector<std::string>{"varkel-check: cannot write " + (dir / "sock") + ": it is a socket"});

    // Data on standard output: the verdict moves to standard error, so the
    // JSON read from standard output is one whole document.
    const std::string check = std::string(VARKEL_CHECK_BINARY) + " " + capture;
    ASSERT_EQ(Shell("(" + check + " --json - >" + (dir / "out") + " 2>" + (dir / "err") + ")").status, 0);
    const std::string json = ReadFile(dir / "out");
    EXPECT_EQ(json.front(), '{');
    EXPECT_EQ(json.substr(json.size() - 2), "}\n");
    EXPECT_EQ(json.find("varkel-check: match"), std::string::npos);
    EXPECT_EQ(ReadFile(dir / "err").rfind("varkel-check: match: 10 messages", 0), 0u);
    ASSERT_EQ(Shell("(" + check + " --wire - >" + (dir / "out") + " 2>" + (dir / "err") + ")").status, 0);
    EXPECT_EQ(Lines(ReadFile(dir / "out")).size(), 90u);
    EXPECT_EQ(ReadFile(dir / "out").rfind("0.001000000 0x5A\n", 0), 0u);

    // A capture named as an output's working file is never taken for one
    // left behind, nor written.
    std::filesystem::copy_file(capture, dir / "y.part");
    r = Run(dir / "y.part", "--wire " + (dir / "y"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.lines,
              std::vector<std::string>{"varkel-check: cannot write " + (dir / "y") + ": its working file " +
                                       (dir / "y.part") + " is the capture being checked"});
    EXPECT_EQ(ReadFile(dir / "y.part"), ReadFile(capture));

    // Paths and names from the command line are shown escaped and cut.
    r = Run(capture, "--wire '" + (dir / "no\x1b[2J\nsuch/f.txt") + "'");
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_NE(r.lines[0].find("no\\x1B[2J\\x0Asuch/f.txt"), std::string::npos) << r.lines[0];
    r = Run(capture, "--sclk " + std::string(100000, 'c'));
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_LT(r.lines[0].size(), 400u);

    // A file-size limit is a write error like a full disk: said, exit 2,
    // nothing half-written left behind.
    r = Shell("ulimit -f 1; exec " + check + " --wire " + (dir / "f.txt"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.lines,
              std::vector<std::string>{"varkel-check: cannot write " + (dir / "f.txt") + ": File too large"});
    EXPECT_FALSE(std::filesystem::exists(dir / "f.txt.part"));
}

// Mismatch windows never take a name that is there: at the last name they
// stop, and say so.
TEST_F(CheckTest, MismatchWindowsStopAtTheLastNameAndWriteOverNothing) {
    for (unsigned n = 1; n <= varkel_check::MismatchWindows::kLastName; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/mismatch-%04u.sr", n);
        ASSERT_EQ(::close(::creat((dir.path() + name).c_str(), 0644)), 0);
    }
    struct Nothing : varkel_check::CaptureSink {
        void Change(std::uint64_t, varkel_check::Line, char) override {}
        void End(std::uint64_t) override {}
    } next;
    varkel_check::CaptureInfo info;
    info.secondsPerTick = 1e-6;
    varkel_check::MismatchWindows windows(next, dir.path(), {});
    windows.Begin(info);
    for (std::uint64_t t = 0; t < 100; ++t) {
        windows.Change(t, varkel_check::Line::Sclk, t % 2 == 0 ? '1' : '0');
    }
    windows.Save(10, 20);
    EXPECT_EQ(windows.saved(), 0u);
    EXPECT_EQ(windows.notSaved(), 1u);
    EXPECT_EQ(windows.error(), "every name from mismatch-0001.sr to mismatch-99999.sr is taken");
    EXPECT_EQ(ReadFile(dir / "mismatch-99999.sr"), "");
}

TEST_F(CheckTest, JsonStaysValidUtf8ForAnyCaptureName) {
    WaveSpec spec;
    spec.messages = ProgramMessages(1);
    const std::string name = dir / "caf\xE9\xFF\x01.vcd";
    std::ofstream(name) << MakeVcd(spec);
    ASSERT_EQ(Run("'" + name + "'", "--json " + (dir / "v.json")).status, 0);
    const std::string json = ReadFile(dir / "v.json");
    EXPECT_NE(json.find("caf\xEF\xBF\xBD\xEF\xBF\xBD\\u0001.vcd"), std::string::npos) << json;
}

// Every seed and every input that once crashed or hung a reader: a
// verdict or one line, never a crash.
TEST_F(CheckTest, FuzzSeedsAndRegressionsEndInAnAnswer) {
    std::size_t inputs = 0;
    for (const char* folder : {"corpus/vcd", "corpus/sr", "regressions"}) {
        for (const auto& entry :
             std::filesystem::directory_iterator(std::string(VARKEL_FUZZ_DIR) + "/" + folder)) {
            SCOPED_TRACE(entry.path().string());
            const Result r = Run(entry.path().string());
            EXPECT_TRUE(r.status == 0 || r.status == 1 || r.status == 2) << r.status;
            ++inputs;
        }
    }
    EXPECT_GE(inputs, 5u);
}

TEST_F(CheckTest, AVerdictThatCannotBeWrittenIsSaidAndExitsTwo) {
    WaveSpec spec;
    spec.messages = ProgramMessages(1);
    std::ofstream(dir / "cap.vcd") << MakeVcd(spec);
    if (::mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        GTEST_SKIP() << "cannot make a device node here (needs root)";
    }
    const Result r =
        Shell("(" + std::string(VARKEL_CHECK_BINARY) + " " + (dir / "cap.vcd") + " >" + (dir / "full") + ")");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.lines, std::vector<std::string>{
                           "varkel-check: cannot write standard output: No space left on device"});

    // A frame list that fills its filesystem (a tmpfs of 8 KiB, in a mount
    // namespace of its own): said, exit 2, the old list kept, nothing left
    // half-written beside it.
    spec.messages = ProgramMessages(50);
    std::ofstream(dir / "cap.vcd") << MakeVcd(spec);
    const std::string small = dir / "small";
    std::filesystem::create_directory(small);
    const Result full =
        Shell("unshare -m sh -c 'mount -t tmpfs -o size=8k none " + small + " || exit 77; " + "echo old >" +
              small + "/frames.txt; " + VARKEL_CHECK_BINARY + " --wire " + small + "/frames.txt " +
              (dir / "cap.vcd") + "; echo status $?; ls " + small + "; cat " + small + "/frames.txt'");
    if (full.status == 77) {
        GTEST_SKIP() << "no private mount namespace here (needs root)";
    }
    EXPECT_EQ(full.lines, (std::vector<std::string>{
                              "varkel-check: cannot write " + small + "/frames.txt: No space left on device",
                              "status 2", "frames.txt", "old"}));
}

// An analyser's samples of one message sent as a mode-0 port sends it (a
// frame pulse per byte, MSB first), `samplesPerBit` a bit, in the ways a
// sampling can put a port's edges: a clock idling high outside the select
// that falls on the select's own sample; the next bit set a sample before
// the falling edge; the select ending on the last rising edge's sample.
struct Sampling {
    unsigned samplesPerBit = 8;
    bool clockHighOutsideSelect = false;
    bool dataBeforeFall = false;
    bool selectEndsOnLastRise = false;
};

std::string MessageSamples(const Sampling& s) {
    constexpr unsigned char kSclk = 1, kSfrm = 2, kTxd = 4;
    const unsigned high = s.samplesPerBit / 2, low = s.samplesPerBit - high;
    std::string samples;
    unsigned char now = kSfrm | (s.clockHighOutsideSelect ? kSclk : 0);
    auto hold = [&](unsigned n) { samples.append(n, static_cast<char>(now)); };
    auto set = [&](unsigned char line, bool on) { now = on ? now | line : now & ~line; };
    hold(20);
    for (const std::uint8_t byte : varkel_check::kProgramMessage) {
        set(kSfrm, false);  // the select opens, the clock low on this very sample
        set(kSclk, false);
        set(kTxd, (byte & 0x80) != 0);
        hold(low);
        for (int bit = 7; bit >= 0; --bit) {
            set(kSclk, true);
            const bool last = bit == 0;
            if (last && s.selectEndsOnLastRise) {
                set(kSfrm, true);
            }
            const bool next = !last && (byte >> (bit - 1) & 1) != 0;
            if (s.dataBeforeFall && !last) {
                hold(high - 1);
                set(kTxd, next);
                hold(1);
            } else {
                hold(high);
            }
            set(kSclk, false);
            if (!s.dataBeforeFall && !last) {
                hold(1);  // the sender's delay after its edge
                set(kTxd, next);
                hold(low - 1);
            } else {
                hold(low);
            }
        }
        set(kSfrm, true);
        set(kSclk, s.clockHighOutsideSelect);
        hold(2 * s.samplesPerBit);
    }
    return samples;
}

// Evidence the sampling could have made names no cause: each capture's
// words are sigrok's mode-0 words, and with the port clock matched the
// program's message matches, or, where sigrok loses words as the select
// ends on an edge, the cause named is the sampling's.
TEST_F(CheckTest, WhatTheSamplingCouldHaveMadeNamesNoCause) {
    if (!HaveSigrok()) {
        GTEST_SKIP() << "sigrok-cli is not installed";
    }
    const std::uint64_t rate = 8'000'000;
    struct Case {
        const char* name;
        Sampling sampling;
        std::string first;
    };
    const std::string match = "varkel-check: match: 1 messages (9 frames)";
    const std::vector<Case> cases = {
        {"three samples a clock period", {.samplesPerBit = 3}, match},
        {"four, the next bit set a sample before the falling edge",
         {.samplesPerBit = 4, .dataBeforeFall = true},
         match},
        {"the next bit set a sample before the falling edge", {.dataBeforeFall = true}, match},
        {"the select opening on a falling clock edge's sample", {.clockHighOutsideSelect = true}, match},
        {"both", {.samplesPerBit = 3, .clockHighOutsideSelect = true}, match},
        {"the select ending on the last rising edge's sample",
         {.selectEndsOnLastRise = true},
         "varkel-check: mismatch: 9 of 9 select periods that close on the sample of a clock edge end inside "
         "a "
         "word, which is not read (as sigrok reads it): sample faster to tell whether the port or the "
         "capture "
         "lost it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / "sampled.sr";
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            << varkel_check::SessionFile(rate, MessageSamples(c.sampling), {});
        const double portClock = static_cast<double>(rate) / c.sampling.samplesPerBit;
        const Result r = Run(
            path, "--clock-rate 0 --port-clock-hz " + std::to_string(portClock) + " --wire " + (dir / "f"));
        EXPECT_EQ(r.lines.at(0).substr(0, c.first.size()), c.first);
        for (const std::string& line : r.lines) {
            EXPECT_EQ(line.find("SPI mode"), std::string::npos) << line;
            EXPECT_EQ(line.find("-bit words?"), std::string::npos) << line;
            EXPECT_EQ(line.find("end inside a word of"), std::string::npos) << line;
        }
        std::vector<std::string> ours, sigroks;
        for (const std::string& line : Lines(ReadFile(dir / "f"))) {
            ours.push_back(line.substr(line.find(" 0x") + 3));
        }
        for (const std::string& line :
             Shell("sigrok-cli -i " + path + " -P spi:clk=sclk:mosi=txd:cs=sfrm -A spi=mosi-data").lines) {
            sigroks.push_back(line.substr(line.find(": ") + 2));
        }
        EXPECT_EQ(ours, sigroks);
    }
}

// Real captures of real buses, made by other people's analysers: their
// README lists each file's pins, clock mode, bit order and select level.
struct RealCapture {
    std::string file, clock, select, data;
    int cpol, cpha;
    bool lsbFirst, selectHigh;
    unsigned wordBits;  // from the note, when it names a width; 0 if not
};

std::vector<RealCapture> RealCaptures() {
    std::vector<RealCapture> out;
    std::ifstream readme(std::string(VARKEL_CAPTURES_DIR) + "/README.md");
    const std::regex row(
        R"(\| (spi/\S+\.sr) \| (\S+) \| (\S+) \| (\S+) \| ([01]) ([01]) \| (msb|lsb) \| (low|high) \|.*)");
    for (std::string line; std::getline(readme, line);) {
        std::smatch m;
        std::smatch width;
        if (std::regex_match(line, m, row)) {
            const bool named = std::regex_search(line, width, std::regex(R"(\| (\d+)-bit words?)"));
            out.push_back({m[1], m[2], m[3], m[4], m[5] == "1", m[6] == "1", m[7] == "lsb", m[8] == "high",
                           named ? static_cast<unsigned>(std::stoul(width[1])) : 0u});
        }
    }
    return out;
}

// What a cause may rest on: a capture whose words are sigrok's mode-0 words
// names no clock mode, polarity, phase or width, and no bit time once the
// port clock is matched; another polarity is named; a phase the sampling
// cannot show is not.
TEST_F(CheckTest, RealCapturesReadAsSigrokReadsThemAndOnlyWhatTheyShowIsNamed) {
    if (!HaveSigrok()) {
        GTEST_SKIP() << "sigrok-cli is not installed";
    }
    const std::vector<RealCapture> captures = RealCaptures();
    ASSERT_GE(captures.size(), 70u);
    auto names = [](const Result& r, const std::string& what) {
        for (const std::string& line : r.lines) {
            if (line.find(what) != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    unsigned compared = 0, quiet = 0, polarities = 0, phases = 0, widths = 0;
    for (const RealCapture& c : captures) {
        SCOPED_TRACE(c.file);
        const std::string path = std::string(VARKEL_CAPTURES_DIR) + "/" + c.file;
        const std::string pins = " --sclk '" + c.clock + "' --sfrm '" + c.select + "' --txd '" + c.data +
                                 "'" + (c.selectHigh ? " --select-active high" : "");
        const Result r = Run(path, pins + " --wire " + (dir / "frames.txt"));
        ASSERT_EQ(r.status, 1) << (r.lines.empty() ? "" : r.lines[0]);  // none carries the program's message
        if (c.cpol == 0 && c.cpha == 0 && !c.lsbFirst) {
            // Mode 0, as the program's port: the bytes are sigrok's, byte for byte.
            const Result ref = Shell("sigrok-cli -i " + path + " -P 'spi:clk=" + c.clock + ":mosi=" + c.data +
                                     ":cs=" + c.select + ":cpol=0:cpha=0:wordsize=8" +
                                     (c.selectHigh ? ":cs_polarity=active-high" : "") + "' -A spi=mosi-data");
            std::vector<std::string> expected, seen;
            for (const std::string& line : ref.lines) {
                expected.push_back("0x" + line.substr(line.find(": ") + 2));
            }
            for (const std::string& line : Lines(ReadFile(dir / "frames.txt"))) {
                seen.push_back(line.substr(line.find(' ') + 1));
            }
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(seen, expected);
            ++compared;
            // With the port clock matched to its bit time, nothing is left
            // that the capture does not carry: only its words differ.
            const std::string bitLine = r.lines.at(4).substr(r.lines.at(4).find(": ") + 2);
            const double bitNs = bitLine.rfind("n/a", 0) == 0 ? 0 : std::stod(bitLine);
            if (c.wordBits == 0 && bitNs > 0) {
                const Result matched =
                    Run(path, pins + " --clock-rate 0 --port-clock-hz " + std::to_string(1e9 / bitNs));
                // (Select periods of a whole number of bytes may still be named
                // as a width to try: that is what the capture shows.)
                for (const char* cause : {"SPI mode", "CPOL", "CPHA", "end inside a word", "bit time ",
                                          "close on the", "frame line", "clock edges come"}) {
                    EXPECT_FALSE(names(matched, cause)) << cause << " in: " << matched.lines.at(0);
                }
                ++quiet;
            }
        } else if (c.cpol == 1) {
            EXPECT_NE(r.lines.at(0).find("the other clock polarity (CPOL 1;"), std::string::npos)
                << r.lines.at(0);
            ++polarities;
        } else {
            // CPHA 1: these change their data on the rising edge's own
            // sample, so sigrok's mode-0 reading is their mode-1 reading, and
            // nothing shows the phase: it is not named, and the details say why.
            EXPECT_FALSE(names(r, "SPI mode")) << r.lines.at(0);
            EXPECT_TRUE(names(r, "note: the data's changes cannot show the clock phase"));
            ++phases;
        }
        if (c.selectHigh) {  // and read with the select the wrong way up, that is named first
            const std::string asLow =
                " --sclk '" + c.clock + "' --sfrm '" + c.select + "' --txd '" + c.data + "'";
            EXPECT_NE(Run(path, asLow).lines.at(0).find("(--select-active high)"), std::string::npos);
        }
        if (c.wordBits != 0) {  // another word width: among the causes, and read with --bits
            EXPECT_TRUE(names(r, std::to_string(c.wordBits) + "-bit words?"));
            ++widths;
        }
    }
    EXPECT_GE(compared, 30u);
    EXPECT_GE(quiet, 20u);
    EXPECT_GE(polarities, 20u);
    EXPECT_GE(phases, 20u);
    EXPECT_GE(widths, 6u);

    // Nine-bit words, read as such, are sigrok's nine-bit words.
    const std::string nine = std::string(VARKEL_CAPTURES_DIR) + "/spi/wordwidths/9bit_spi.sr";
    ASSERT_EQ(Run(nine, "--sclk CLK --sfrm CS# --txd MOSI --bits 9 --wire " + (dir / "nine.txt")).status, 1);
    std::vector<unsigned long> expected, seen;  // sigrok writes no leading zeros
    for (const std::string& line :
         Shell("sigrok-cli -i " + nine + " -P spi:clk=CLK:mosi=MOSI:cs=CS#:wordsize=9 -A spi=mosi-data")
             .lines) {
        expected.push_back(std::stoul(line.substr(line.find(": ") + 2), nullptr, 16));
    }
    for (const std::string& line : Lines(ReadFile(dir / "nine.txt"))) {
        seen.push_back(std::stoul(line.substr(line.find(" 0x") + 3), nullptr, 16));
    }
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(seen, expected);

    // Bit order needs the bytes a port meant to send: this one sends its
    // five twice, LSB first, in mode 1.
    const Result lsb = Run(std::string(VARKEL_CAPTURES_DIR) +
                               "/spi/allmodes/spi_0x5a6b7c8d9e_cpol0_cpha1_trigger_cs_falling_lsbfirst_ok.sr",
                           "--sclk CLK --sfrm CS# --txd MOSI --message 5a6b7c8d9e5a6b7c8d9e");
    EXPECT_EQ(
        lsb.lines.at(0),
        "varkel-check: mismatch at 0.000000 s, message 1: the data is right only sampled on the falling "
        "clock edge: the other clock phase (CPHA 1), and LSB first");
}

// A sigrok-cli user's spellings read a file as sigrok-cli reads it: -C
// names the file's channels for the lines, -i and - give the file, and the
// old --frames still writes the wire log, with a note.
TEST_F(CheckTest, SigrokCliSpellingsReadAFileAsSigrokCliDoes) {
    const std::string nine = std::string(VARKEL_CAPTURES_DIR) + "/spi/wordwidths/9bit_spi.sr";
    const Result named = Run(nine, "--sclk CLK --sfrm 'CS#' --txd MOSI --wire " + (dir / "named.txt"));
    ASSERT_EQ(named.status, 1);
    const std::string channels = "-C 'CLK=sclk,CS#=sfrm,MOSI=txd'";
    const Result mapped = Run("", channels + " --wire " + (dir / "mapped.txt") + " -i " + nine);
    EXPECT_EQ(mapped.lines, named.lines);
    EXPECT_EQ(ReadFile(dir / "mapped.txt"), ReadFile(dir / "named.txt"));
    EXPECT_NE(ReadFile(dir / "named.txt"), "");

    const Result piped = Run("- <" + nine, channels);
    ASSERT_EQ(piped.status, 1);
    EXPECT_EQ(piped.lines.at(0), named.lines.at(0));

    const Result old = Run(nine, channels + " --frames " + (dir / "old.txt"));
    EXPECT_EQ(
        old.lines.at(0),
        "varkel-check: note: --frames is spelt --wire now, as in varkel-sim (in sigrok-cli, --frames is a "
        "count)");
    EXPECT_EQ(ReadFile(dir / "old.txt"), ReadFile(dir / "named.txt"));

    for (const auto& [options, line] : std::vector<std::pair<std::string, std::string>>{
             {channels + " --sclk CLK",
              "varkel-check: name the lines with --channels or with --sclk, --sfrm and --txd, not both"},
             {"-C CLK=sclk,MOSI=txd",
              "varkel-check: option --channels takes CH=LINE pairs, one for each line, as "
              "D0=sclk,D1=sfrm,D2=txd, not 'CLK=sclk,MOSI=txd'"},
             // The path as messages show one, so that the test holds from any folder.
             {"-i " + nine, "varkel-check: one capture at a time: '" +
                                common::Escaped(nine, common::kShownPath) + "' is a second one"},
         }) {
        SCOPED_TRACE(options);
        const Result r = Run(nine, options);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.lines, std::vector<std::string>{line});
    }
}

// Another writer's format goes through libsigrok's input module to the
// same words and verdict as the session it was made from; what the module
// cannot read is one line, exit 2, never a verdict.
TEST_F(CheckTest, OtherFormatsReadThroughSigroksInputModulesAsTheirSession) {
    if (!HaveSigrok()) {
        GTEST_SKIP() << "needs sigrok-cli";
    }
    const LibsigrokLeaksIgnored leaks;
    const std::string session = std::string(VARKEL_CAPTURES_DIR) + "/spi/spi-count-msb.sr";
    const std::string channels = "-C 0=sclk,1=sfrm,2=txd ";
    const Result direct = Run(session, channels + "--wire " + (dir / "session.txt"));
    ASSERT_EQ(direct.status, 1);
    ASSERT_EQ(Shell("sigrok-cli -i " + session + " -O binary > " + (dir / "raw.bin")).status, 0);
    ASSERT_EQ(Shell("sigrok-cli -i " + session + " -O csv:header=false > " + (dir / "samples.csv")).status,
              0);
    const std::pair<std::string, std::string> formats[] = {
        {"binary:numchannels=3:samplerate=400k", dir / "raw.bin"},
        {"csv:samplerate=400k:header=false:start_line=2", dir / "samples.csv"},
    };
    for (const auto& [format, file] : formats) {
        SCOPED_TRACE(format);
        const Result r = Run(file, channels + "-I " + format + " --wire " + (dir / "other.txt"));
        EXPECT_EQ(r.status, 1);
        ASSERT_GE(r.lines.size(), 2u);
        EXPECT_EQ(r.lines[0], direct.lines.at(0));
        EXPECT_NE(r.lines[1].find("(libsigrok's " + format.substr(0, format.find(':')) + " input, 400 kHz)"),
                  std::string::npos)
            << r.lines[1];
        EXPECT_EQ(ReadFile(dir / "other.txt"), ReadFile(dir / "session.txt"));
    }
    EXPECT_EQ(Lines(ReadFile(dir / "session.txt")).size(), 256u);

    std::ofstream(dir / "junk.csv") << "sclk,sfrm,txd\n1,x,0\n";
    std::ofstream(dir / "rateless.csv") << "sclk,sfrm,txd\n1,1,0\n0,1,0\n";
    const std::string junk = dir / "junk.csv";
    EXPECT_EQ(
        Run(dir / "rateless.csv", "-I csv").lines,
        std::vector<std::string>{"varkel-check: " + (dir / "rateless.csv") +
                                 ": the csv input gives no sample rate: give it, as -I csv:samplerate=8m"});
    for (const auto& [options, line] : std::vector<std::pair<std::string, std::string>>{
             {"-I csv:samplerate=1m", junk + ": damaged: libsigrok's csv input cannot read it"},
             {"-I no-such-format", junk + ": libsigrok has no input format 'no-such-format'"},
             {"-I csv:bogus=1", junk + ": the csv input has no option 'bogus=1' (it takes: "},
             {"-I binary:numchannels=x", junk + ": the input option numchannels does not take 'x'"},
             {"-I csv -d demo", "--input-format reads a file; --driver acquires: one or the other"},
         }) {
        SCOPED_TRACE(options);
        const Result r = Run(options.find("-d ") != std::string::npos ? "" : junk, options);
        EXPECT_EQ(r.status, 2);
        ASSERT_EQ(r.lines.size(), 1u);
        EXPECT_EQ(r.lines[0].rfind("varkel-check: " + line, 0), 0u) << r.lines[0];
    }
}

}  // namespace
