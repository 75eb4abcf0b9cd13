// The capture readers in memory: what reaches the decoder from a value
// change dump and from a sigrok session, change by change.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tests/capture_gen.h"
#include "tests/test_files.h"
#include "tools/varkel-check/capture/capture.h"
#include "tools/varkel-check/capture/logic_stream.h"
#include "tools/varkel-check/capture/session_writer.h"
#include "tools/varkel-check/cli/report.h"

namespace {

using varkel_check::Line;

struct Recorder : varkel_check::CaptureSink {
    void Change(std::uint64_t tick, Line line, char level) override {
        const char name = line == Line::Sclk ? 'c' : line == Line::Sfrm ? 's' : 'd';
        changes.push_back(std::to_string(tick) + name + level);
    }
    void End(std::uint64_t tick) override { end = tick; }
    std::vector<std::string> changes;
    std::uint64_t end = 0;
};

// A file in memory holding `bytes`, rewound.
int Memory(const std::string& bytes) {
    const int fd = ::memfd_create("capture", 0);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

bool Read(const std::string& bytes, Recorder& sink, varkel_check::CaptureInfo& info, std::string& error,
          const varkel_check::LineNames& names = {}) {
    const int fd = Memory(bytes);
    const bool ok = varkel_check::ReadCapture(fd, "cap", names, sink, info, nullptr, error);
    ::close(fd);
    return ok;
}

// A zip archive of stored entries, as small sessions are sometimes written.
std::string Zip(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::vector<std::pair<std::string, std::string_view>> views(entries.begin(), entries.end());
    return varkel_check::StoredZip(views);
}

TEST(CaptureReader, ADumpGivesEachLinesChangesInTimeOrderAndItsTimeUnit) {
    const std::string vcd =
        "$timescale 10 ns $end $scope module board $end $var wire 1 ! SCLK $end $var wire 1 \" sfrm $end "
        "$var wire 1 # txd $end $var wire 8 $ bus $end $upscope $end $enddefinitions $end\n"
        "#0 0! 1\" x# b1010 $\n#5 0\"\n#7 1# 1!\n#9 0!\n#12\n";
    Recorder sink;
    varkel_check::CaptureInfo info;
    std::string error;
    ASSERT_TRUE(Read(vcd, sink, info, error)) << error;
    EXPECT_EQ(sink.changes, (std::vector<std::string>{"0c0", "0s1", "0dx", "5s0", "7d1", "7c1", "9c0"}));
    EXPECT_EQ(sink.end, 12u);
    EXPECT_DOUBLE_EQ(info.secondsPerTick, 10e-9);
    EXPECT_EQ(info.format, "value change dump");
}

TEST(CaptureReader, ASessionGivesItsChannelsByNameAcrossItsLogicEntries) {
    // Channel 1 txd, 2 sclk, 3 sfrm: bits 0, 1, 2 of each sample byte.
    const std::string metadata =
        "[global]\nsigrok version=0.5.2\n[device 1]\ncapturefile=logic-1\ntotal probes=3\n"
        "samplerate=4 MHz\nprobe1=txd\nprobe2=sclk\nprobe3=sfrm\nunitsize=1\n";
    const std::string first = {'\x04', '\x00', '\x01'}, second = {'\x03', '\x03', '\x00'};
    const std::string session =
        Zip({{"version", "2"}, {"metadata", metadata}, {"logic-1-1", first}, {"logic-1-2", second}});
    Recorder sink;
    varkel_check::CaptureInfo info;
    std::string error;
    ASSERT_TRUE(Read(session, sink, info, error)) << error;
    EXPECT_EQ(sink.changes,
              (std::vector<std::string>{"0c0", "0s1", "0d0", "1s0", "2d1", "3c1", "5c0", "5d0"}));
    EXPECT_EQ(sink.end, 6u);
    EXPECT_DOUBLE_EQ(info.secondsPerTick, 0.25e-6);

    // A sample changed after its checksum was taken: the read fails, so
    // whatever levels it gave never become a verdict.
    std::string damaged = session;
    damaged[damaged.find(first)] ^= 0x01;
    Recorder spoilt;
    EXPECT_FALSE(Read(damaged, spoilt, info, error));
    EXPECT_NE(error.find("logic-1-1 fails its checksum"), std::string::npos) << error;
}

// What other writers put in a dump: the vector form for one-bit signals,
// VHDL's nine levels, scopes that make a name ambiguous, and one signal
// declared in several scopes.
TEST(CaptureReader, OtherWritersDumpsAreReadAsTheyMeanThem) {
    const std::string vcd =
        "$timescale 1 ns $end $scope module top $end $scope module ssp $end $var wire 1 ! sclk $end "
        "$var wire 1 \" sfrm $end $var wire 1 # txd $end $upscope $end $scope module gpio $end "
        "$var wire 1 % sclk $end $var wire 1 ! pin81 $end $upscope $end $upscope $end $enddefinitions $end\n"
        "#0 b0 ! bH \" U# 1%\n#5 b1 ! L\" W#\n#6 b0001 ! -#\n#7 h# l!\n#9 bxx ! bZ #\n#10\n";
    Recorder sink;
    varkel_check::CaptureInfo info;
    std::string error;
    // Two signals end in "sclk": the name alone is ambiguous...
    EXPECT_FALSE(Read(vcd, sink, info, error));
    EXPECT_EQ(error,
              "sclk names 2 signals in cap (top.ssp.sclk, top.gpio.sclk): give one's full name with --sclk");
    // ...a scope settles it, and a signal declared twice (pin81) is still one.
    for (const char* name : {"top.ssp.sclk", "ssp.sclk", "pin81", "GPIO.PIN81"}) {
        SCOPED_TRACE(name);
        sink = {};
        ASSERT_TRUE(Read(vcd, sink, info, error, {.sclk = name})) << error;
        EXPECT_EQ(sink.changes, (std::vector<std::string>{"0c0", "0s1", "0dx", "5c1", "5s0", "5dx", "6c1",
                                                          "6dx", "7d1", "7c0", "9cx", "9dx"}));
    }
    // Levels written in the case they were declared in win over others.
    const std::string cased =
        "$var wire 1 ! CLK $end $var wire 1 % clk $end $var wire 1 \" sfrm $end $var wire 1 # txd $end "
        "$enddefinitions $end #0 1! 0% 0\" 0# #1\n";
    sink = {};
    ASSERT_TRUE(Read(cased, sink, info, error, {.sclk = "CLK"})) << error;
    EXPECT_EQ(sink.changes.front(), "0c1");
    EXPECT_FALSE(Read(cased, sink, info, error, {.sclk = "Clk"}));
    EXPECT_EQ(info.resolution, "1s (no $timescale)");
}

// A dump that is cut, malformed or ambiguous gets no levels through to a
// verdict: the read fails, naming what is wrong.
TEST(CaptureReader, ADamagedDumpIsRefusedNamingWhatIsWrong) {
    const std::string vars = "$var wire 1 ! sclk $end $var wire 1 \" sfrm $end $var wire 1 # txd $end ";
    const std::string head = "$timescale 1ns $end " + vars + "$enddefinitions $end\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"$comment written by hand " + head + "#0 0! #5",
         "cap: damaged: $comment is not closed before $timescale"},
        {head + "#0 0! $comment", "cap: damaged: $comment is not closed by $end"},
        {"$date today " + head, "cap: damaged: $date is not closed before $timescale"},
        {head + "#0 0! 1\" 0# #5 $comment the rest is lost\n#9 1! #10 0!",
         "cap: damaged: $comment is not closed by $end"},
        {head + "#0 0! $comment lost #9 1! $comment again $end",
         "cap: damaged: $comment is not closed before $comment"},
        {head + "#0 0! $vendor_extra 1 2 3\n#9 1!", "cap: damaged: $vendor_extra is not closed by $end"},
        {"$timescale $end " + vars + "$enddefinitions $end #0",
         "cap: damaged: its timescale '' is not one VCD allows (1, 10 or 100 s, ms, us, ns, ps or fs)"},
        {"$timescale 3 ns $end " + vars + "$enddefinitions $end #0",
         "cap: damaged: its timescale '3ns' is not one VCD allows (1, 10 or 100 s, ms, us, ns, ps or fs)"},
        {"$timescale 1 ns $end $timescale 1 us $end " + vars + "$enddefinitions $end #0",
         "cap: damaged: it gives its timescale twice"},
        {"$var wire 1 ! $end " + vars + "$enddefinitions $end #0",
         "cap: damaged: a $var of 3 words, not a type, a width, an identifier and a name"},
        {"$upscope $end " + vars + "$enddefinitions $end #0", "cap: damaged: an $upscope with no scope open"},
        {head + "#0 b10 ! #1", "cap: damaged: the one-wire signal ! is given 'b10'"},
        {head + "#0 r1.5 #", "cap: damaged: the one-wire signal # is given 'r1.5'"},
        {head + "#0 b1", "cap: damaged: a value 'b1' names no signal"},
        {head + "#0 1", "cap: damaged: a change '1' names no signal"},
        {head + "#0 0! ?oops", "cap: damaged: '?oops' among its changes is not a change"},
        {"$var wire 1 ! sclk $end $var wire 1 ! sfrm $end $var wire 1 # txd $end $enddefinitions $end #0",
         "--sclk and --sfrm name one signal in cap: each line needs its own"},
    };
    for (const auto& [vcd, why] : cases) {
        SCOPED_TRACE(vcd);
        Recorder sink;
        varkel_check::CaptureInfo info;
        std::string error;
        EXPECT_FALSE(Read(vcd, sink, info, error));
        EXPECT_EQ(error, why);
    }
}

// sigrok writes a rate as a decimal with a unit ("8.2 MHz"): every whole
// rate it can write reads back exactly, and one that is not whole is no rate.
TEST(CaptureReader, EverySampleRateSigrokWritesReadsBackExactly) {
    // The notation: the rate divided by the largest power of 1000 that
    // leaves a whole part under 1000, its remainder as decimals with the
    // trailing zeros dropped, then the unit.
    auto notation = [](std::uint64_t rate) {
        const char* prefix[] = {"", "k", "M", "G"};
        std::uint64_t divisor = 1;
        int i = 0;
        while (rate / divisor >= 1000 && i < 3) {
            divisor *= 1000;
            ++i;
        }
        std::string text = std::to_string(rate / divisor);
        if (i > 0 && rate % divisor != 0) {
            std::string fraction = std::to_string(rate % divisor);
            fraction.insert(0, static_cast<std::size_t>(3 * i) - fraction.size(), '0');
            fraction.erase(fraction.find_last_not_of('0') + 1);
            text += "." + fraction;
        }
        return text + " " + prefix[i] + "Hz";
    };
    std::mt19937_64 random(2026);
    std::vector<std::uint64_t> rates;
    for (std::uint64_t rate = 1; rate <= 400000; ++rate) {
        rates.push_back(rate);
    }
    for (int k = 0; k < 200000; ++k) {
        rates.push_back(std::uniform_int_distribution<std::uint64_t>(1, 100'000'000'000)(random));
    }
    std::size_t wrong = 0;
    for (const std::uint64_t rate : rates) {
        const std::string text = notation(rate);
        if (varkel_check::SigrokSampleRate(text) != rate && wrong++ < 5) {
            ADD_FAILURE() << text << " read as " << varkel_check::SigrokSampleRate(text);
        }
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(notation(8'200'000), "8.2 MHz");
    EXPECT_EQ(varkel_check::SigrokSampleRate("8000000"), 8'000'000u);
    EXPECT_EQ(varkel_check::SigrokSampleRate("24m"), 24'000'000u);
    for (const char* notRate : {"1.0005 kHz", "0.5 Hz", "0 Hz", "101 GHz", "1e6", "1..5 kHz", ". MHz",
                                "8 MHzz", "1.5", "18446744073709551616", ""}) {
        EXPECT_EQ(varkel_check::SigrokSampleRate(notRate), 0u) << notRate;
    }
}

// Sessions as other writers leave them: a version with a newline, an older
// sigrok's probe count past the sample width. And what no reading can
// trust: an entry or a key given twice, two channels one name fits.
TEST(CaptureReader, SessionsOfOtherWritersAreReadAndAmbiguousOnesRefused) {
    auto session = [](const std::string& version, const std::string& device, bool twice = false) {
        const std::string metadata =
            "[global]\nsigrok version=0.2.0\n[device 1]\ncapturefile=logic-1\n" + device;
        std::vector<std::pair<std::string, std::string>> entries = {
            {"version", version}, {"metadata", metadata}, {"logic-1", std::string("\x01\x03\x00", 3)}};
        if (twice) {
            entries.push_back(
                {"metadata", "[device 1]\ncapturefile=logic-1\ntotal probes=3\nsamplerate=1 Hz\n"});
        }
        return Zip(entries);
    };
    const std::string probes = "probe1=sclk\nprobe2=sfrm\nprobe3=txd\n";
    Recorder sink;
    varkel_check::CaptureInfo info;
    std::string error;
    ASSERT_TRUE(
        Read(session("2\n", "total probes=32\nsamplerate=8.2 MHz\nunitsize=1\n" + probes), sink, info, error))
        << error;
    EXPECT_EQ(sink.changes, (std::vector<std::string>{"0c1", "0s0", "0d0", "1s1", "2c0", "2s0"}));
    EXPECT_EQ(info.resolution, "8200000 samples a second");

    const std::vector<std::pair<std::string, std::string>> refused = {
        {session("2", "total probes=3\nsamplerate=1 MHz\n" + probes, true),
         "cap: damaged: it holds metadata twice"},
        {session("2", "total probes=3\nsamplerate=1 MHz\nsamplerate=2 MHz\n" + probes),
         "cap: damaged: its metadata gives samplerate twice"},
        {session("2", "total probes=32\nsamplerate=1 MHz\nunitsize=1\n" + probes + "probe9=extra\n"),
         "cap: damaged: it names channel 9 (extra) of samples of 1 bytes"},
        {session("2", "total probes=4\nsamplerate=1 MHz\n" + probes + "probe4=sclk\n"),
         "sclk names 2 signals in cap (sclk, sclk): give one's full name with --sclk"},
    };
    for (const auto& [bytes, why] : refused) {
        SCOPED_TRACE(why);
        EXPECT_FALSE(Read(bytes, sink, info, error));
        EXPECT_EQ(error, why);
    }
}

// Names written into a session (the lines' names, as given) stay names:
// a newline, a leading space or a backslash writes no line of its own, and
// reads back as it was.
TEST(CaptureReader, NamesWrittenIntoASessionReadBackAndInjectNothing) {
    const varkel_check::LineNames names = {.sclk = "sclk\nprobe4=evil", .sfrm = " sfrm", .txd = "t\\x"};
    const std::string session = varkel_check::SessionFile(1000, std::string("\x01\x03\x06", 3), names);
    Recorder sink;
    varkel_check::CaptureInfo info;
    std::string error;
    ASSERT_TRUE(Read(session, sink, info, error, names)) << error;
    EXPECT_EQ(sink.changes, (std::vector<std::string>{"0c1", "0s0", "0d0", "1s1", "2c0", "2d1"}));
    const std::size_t metadata = session.find("[global]");
    ASSERT_NE(metadata, std::string::npos);
    EXPECT_EQ(session.find("\nprobe4=", metadata), std::string::npos);
}

// A dump's wire as an analyser would pack
// it: `rate` samples a second, two bytes each, sclk in bit 3, sfrm in bit
// 9, txd in bit 12.
std::string WireSamples(const std::string& vcd, std::uint64_t rate) {
    Recorder levels;
    varkel_check::CaptureInfo info;
    std::string error;
    EXPECT_TRUE(Read(vcd, levels, info, error)) << error;
    const int bits[3] = {3, 9, 12};
    std::string out;
    unsigned state = 0;
    std::size_t next = 0;
    const std::uint64_t samples = levels.end * rate / 1000000000u;
    for (std::uint64_t i = 0; i < samples; ++i) {
        const std::uint64_t ns = i * 1000000000u / rate;
        for (; next < levels.changes.size(); ++next) {  // "<ns><line><level>", in time order
            const std::string& c = levels.changes[next];
            const std::size_t at = c.find_first_not_of("0123456789");
            if (std::stoull(c.substr(0, at)) > ns) {
                break;
            }
            const int line = c[at] == 'c' ? 0 : c[at] == 's' ? 1 : 2;
            state = c[at + 1] == '1' ? state | 1u << bits[line] : state & ~(1u << bits[line]);
        }
        out += static_cast<char>(state & 0xFF);
        out += static_cast<char>(state >> 8);
    }
    return out;
}

// The verdict and details of `samples` fed in pieces of the given sizes
// (cycled; 0: all at once).
std::string Verdict(const std::string& samples, const std::vector<std::size_t>& pieces) {
    varkel_check::CaptureInfo info;
    info.format = "sigrok session";
    info.resolution = "10000000 samples a second";
    info.secondsPerTick = 1e-7;
    varkel_check::CheckPipeline pipeline(varkel_check::Expectation{});
    pipeline.Begin(info);
    const int bits[3] = {3, 9, 12};
    varkel_check::LogicStream stream(2, bits, pipeline);
    for (std::size_t at = 0, i = 0; at < samples.size(); ++i) {
        const std::size_t n =
            pieces.empty() ? samples.size() : std::min(pieces[i % pieces.size()], samples.size() - at);
        stream.Take(std::string_view(samples).substr(at, n));
        at += n;
    }
    info.endTick = stream.count();
    pipeline.End(stream.count());
    varkel_check::Outcome outcome{info, pipeline.Finish()};
    return varkel_check::VerdictLine(outcome.report) + "\n" +
           varkel_check::Details(outcome, varkel_check::CheckRequest{"live", {}, {}});
}

TEST(LogicStream, PiecesCutAnywhereGiveTheWholeStreamsVerdict) {
    WaveSpec wave;  // the program's wire, made from first principles
    wave.messages = ProgramMessages(1);
    wave.firstStartS = 0.000002;
    wave.captureEndS = 0.0005;
    std::string samples = WireSamples(MakeVcd(wave), 10000000);
    const std::string whole = Verdict(samples, {});
    EXPECT_EQ(
        whole.substr(0, whole.find('\n')),
        "varkel-check: match: 1 messages (9 frames), bit time 700.0 ns (expected 700.0 ns), message interval "
        "n/a (one message)");
    // Pieces of one byte (inside a sample), odd sizes, and sizes that end
    // inside frames.
    std::mt19937 random(19);
    std::vector<std::size_t> uneven;
    for (int i = 0; i < 64; ++i) {
        uneven.push_back(std::uniform_int_distribution<std::size_t>(1, 777)(random));
    }
    for (const std::vector<std::size_t>& pieces :
         {std::vector<std::size_t>{1}, std::vector<std::size_t>{3, 1, 2}, uneven}) {
        EXPECT_EQ(Verdict(samples, pieces), whole);
    }
    // The same samples in a session file take the same path to the same verdict.
    const std::string metadata =
        "[device 1]\ncapturefile=logic-1\ntotal probes=16\nsamplerate=10 MHz\nprobe4=sclk\nprobe10=sfrm\n"
        "probe13=txd\nunitsize=2\n";
    const int fd = Memory(Zip({{"version", "2"}, {"metadata", metadata}, {"logic-1-1", samples}}));
    varkel_check::Outcome file;
    std::string error;
    const varkel_check::CheckRequest request{"live", {}, {}};
    ASSERT_TRUE(varkel_check::CheckCapture(fd, request, nullptr, nullptr, file, error)) << error;
    ::close(fd);
    EXPECT_EQ(varkel_check::VerdictLine(file.report) + "\n" + varkel_check::Details(file, request), whole);

    // A bit flipped mid-message: the same mismatch, however the stream is cut.
    std::size_t first = 1;  // the first sample inside a frame (its second byte)
    while (first < samples.size() && (samples[first] & 0x02) != 0) {
        first += 2;
    }
    for (std::size_t at = first + 2 * 200; at < samples.size(); at += 2) {  // 20 us on: the fourth frame
        if ((samples[at] & 0x02) != 0) {  // sfrm active low: inside a frame, flip txd for a while
            continue;
        }
        for (std::size_t j = at; j < at + 2 * 8 && j < samples.size(); j += 2) {
            samples[j] ^= 0x10;
        }
        break;
    }
    const std::string spoilt = Verdict(samples, {});
    EXPECT_EQ(spoilt.rfind("varkel-check: mismatch", 0), 0u) << spoilt;
    EXPECT_EQ(Verdict(samples, uneven), spoilt);
}

}  // namespace
