// varkel-check: holds a logic analyser's capture of a real board against
// the wire the program should produce.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "common/escape.h"
#include "common/options.h"
#include "common/output_file.h"
#include "common/stop.h"
#include "common/write_all.h"
#include "tools/varkel-check/cli/acquire.h"
#include "tools/varkel-check/cli/mismatch_windows.h"
#include "tools/varkel-check/cli/report.h"

namespace {

constexpr int kExitMatch = 0, kExitMismatch = 1, kExitUnreadable = 2;

constexpr const char* kUsage =
    "Usage: varkel-check [options] CAPTURE\n"
    "Checks a logic analyser's capture of the board's serial clock, frame and transmit\n"
    "pins against what the Varkel test program sends: \"ZEL NSSP\" and a zero byte, nine\n"
    "8-bit frames MSB first, clock idle low, data sampled on the rising edge, one message\n"
    "a second. CAPTURE is a value change dump (.vcd) or a sigrok session file (.sr).\n"
    "\n"
    "  -i, --input-file CAPTURE\n"
    "                        the capture, as sigrok-cli takes it; - reads standard input\n"
    "  -I, --input-format FORMAT[:OPTION=VALUE...]\n"
    "                        read it through libsigrok's input module FORMAT, as sigrok-cli\n"
    "                        does (csv, binary, wav...: sigrok-cli -L lists them), as\n"
    "                        binary:numchannels=3:samplerate=8m\n"
    "  --sclk NAME, --sfrm NAME, --txd NAME\n"
    "                        the capture's names for the pins (default sclk, sfrm, txd;\n"
    "                        matched without regard to case, in any scope, or in the one\n"
    "                        given: top.ssp.sclk; a name that fits two signals is refused)\n"
    "  -C, --channels CH=LINE,...\n"
    "                        which channel carries which line, as D0=sclk,D1=sfrm,D2=txd\n"
    "                        (for a file: the same as --sclk D0 --sfrm D1 --txd D2)\n"
    "  --port-clock-hz HZ    the port's base clock, 1 to 1e10 (default 10000000, the\n"
    "                        simulated board's)\n"
    "  --clock-rate N        the program's clock-rate setting, 0 to 255 (default 6): a bit\n"
    "                        lasts N + 1 base clock periods\n"
    "  --bit-tolerance PCT   how far the bit time may stray, 0.01 to 50 (default 5)\n"
    "  --interval-tolerance-ms MS\n"
    "                        how far a message's start may stray from 1 s after the last\n"
    "                        one's, 0.001 to 1000 (default 5)\n"
    "  --wire FILE           every complete frame read: \"<seconds> 0x<value>\", as\n"
    "                        varkel-sim's wire log (--frames, its old name, still works)\n"
    "  --bits N              bits a word, 1 to 32 (default 8, the program's)\n"
    "  --select-active low|high\n"
    "                        the frame (select) line's active level (default low)\n"
    "  --message HEX         the words a message holds, 1 to 64, each in as many hex\n"
    "                        digits as --bits needs (2 for 8 bits: 5A454C; 4 for 16:\n"
    "                        005A0045; 3 for 9), compared whole (default: the program's\n"
    "                        5A454C204E53535000, each byte zero-extended or cut to --bits):\n"
    "                        to read a port sending something else, and to judge its bit\n"
    "                        order and phase\n"
    "  --json FILE           the verdict and figures as JSON\n"
    "  -h, --help, --version\n"
    "\n"
    "Live, from an analyser through libsigrok, checking while it samples (nothing is\n"
    "stored, memory stays the same however long it runs); no CAPTURE then:\n"
    "  -d, --driver NAME[:KEY=VALUE...]\n"
    "                        a libsigrok driver and its options, as sigrok-cli spells\n"
    "                        them (fx2lafw, fx2lafw:conn=1.5, demo)\n"
    "  -c, --config KEY=VALUE[:KEY=VALUE...]\n"
    "                        the device's settings, as sigrok-cli's (samplerate=8m)\n"
    "  --samplerate RATE     8m, 24000000 (default: the device's; -c samplerate=RATE)\n"
    "  -C, --channels CH=LINE,...\n"
    "                        (default: channels named as the lines)\n"
    "  --time TIME           stop after this long, as sigrok-cli reads it: 500 or 500ms\n"
    "                        (a bare number is milliseconds), 3s\n"
    "  --samples N           stop after N samples\n"
    "  --messages N          stop once N messages are checked\n"
    "  --until-done          stop once the run's 10000 messages are checked\n"
    "  --scan                list the analysers libsigrok finds, as sigrok-cli does (with -d,\n"
    "                        one driver's), with the driver and conn= to give -d\n"
    "  --save-mismatches DIR a short session file (.sr, for PulseView) around each wrong\n"
    "                        message, at most 20, in DIR (made if missing; nothing there is\n"
    "                        written over)\n"
    "Ctrl-C stops it and gives the verdict for what was seen.\n"
    "\n"
    "Words are read as an analyser's SPI decoder reads them: while the frame line is\n"
    "active, each rising clock edge takes the data line's level at that sample, and\n"
    "every N bits make a word, whether the port pulses its frame line for each word or\n"
    "holds it across a message.\n"
    "\n"
    "The first line is the verdict: \"varkel-check: match: ...\" or \"varkel-check: mismatch\n"
    "at T s, message K, byte J: <what>\", naming the likely cause. Partial frames and\n"
    "messages at the capture's edges are left out, and said so. A capture that is\n"
    "damaged (a checksum that fails, an entry cut short, a channel or sample rate that\n"
    "cannot be) gets no verdict: one line says what is wrong, and the exit status is 2.\n"
    "Outputs are written whole or not at all, and never over the capture; an output\n"
    "that cannot be written is said, with no verdict. With --json - or --wire -, the\n"
    "verdict and details go to standard error, leaving standard output to the data.\n"
    "Exit status: 0 match, 1 mismatch, 2 the capture cannot be read or is damaged, or a\n"
    "bad option or output, or an analyser that stopped sending (after the verdict for\n"
    "what was seen); 128 + N when signal N stopped a file's reading (no verdict).\n";

extern "C" void OnStopSignal(int signal) {
    common::RequestStop(signal);
}

struct Options {
    varkel_check::CheckRequest request;
    std::string framesPath;  // --wire
    std::string jsonPath;
    varkel_check::AcquireRequest live;  // live.driver set: acquire instead of reading a file
    std::string saveDir;                // --save-mismatches
    bool limited = false;               // --time, --samples, --messages or --until-done given
    std::vector<std::string> notes;     // said before the run: old spellings
    bool scan = false;                  // --scan: list the analysers instead
    std::string inputFormat;            // -I: read the file through libsigrok's input module
};

constexpr unsigned kRunMessages = 10000;              // the program's whole run
constexpr std::uint64_t kMaxSamples = 1000000000000;  // over 16 minutes at 1 GHz

// The numeric options: each finite and in a range that means something.
struct NumberOption {
    const char* name;
    double min, max;
    bool whole;
};
constexpr NumberOption kNumbers[] = {
    {"--port-clock-hz", 1, 1e10, false},
    {"--clock-rate", 0, 255, true},
    {"--bit-tolerance", 0.01, 50, false},
    {"--interval-tolerance-ms", 0.001, 1000, false},
    {"--bits", 1, 32, true},
};

constexpr std::size_t kMaxMessage = 64;  // words

// A message's words of `bits` bits, each written in as many hex digits as
// its width needs (2 for 8 bits, 4 for 16, 3 for 9): "5a6B" is {0x5A,
// 0x6B} in bytes and {0x5A6B} in 16-bit words. False, with why, for
// anything that does not split into such words or holds one too wide.
bool ParseWords(const std::string& text, unsigned bits, std::vector<std::uint32_t>& words,
                std::string& error) {
    const std::size_t digits = (bits + 3) / 4;
    const std::string shown = "'" + common::Escaped(text, 64) + "'";
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i < text.size() && text.size() % digits == 0; i += digits) {
        std::uint64_t word = 0;
        const auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + i + digits, word, 16);
        if (ec != std::errc{} || ptr != text.data() + i + digits) {
            break;
        }
        if (word >> bits != 0) {
            error = "option --message: word " + std::to_string(out.size() + 1) + " of " + shown +
                    " is wider than " + std::to_string(bits) + " bits (--bits)";
            return false;
        }
        out.push_back(static_cast<std::uint32_t>(word));
    }
    if (out.empty() || out.size() * digits != text.size() || out.size() > kMaxMessage) {
        error = "option --message takes 1 to " + std::to_string(kMaxMessage) + " words of " +
                std::to_string(bits) + " bits, " + std::to_string(digits) + " hex digit" +
                (digits == 1 ? "" : "s") + " each, not " + shown;
        return false;
    }
    words = std::move(out);
    return true;
}

// "D0=sclk,D1=sfrm,D2=txd": each device channel and the line it carries,
// every line named once.
bool ParseChannels(const std::string& text, const varkel_check::LineNames& names,
                   std::vector<std::pair<std::string, std::string>>& out) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string item = text.substr(from, comma - from);
        const std::size_t equals = item.find('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == item.size()) {
            return false;
        }
        const std::string line = item.substr(equals + 1);
        if (!varkel_check::SameName(line, names.sclk) && !varkel_check::SameName(line, names.sfrm) &&
            !varkel_check::SameName(line, names.txd)) {
            return false;
        }
        for (const auto& [device, seen] : pairs) {
            if (varkel_check::SameName(seen, line) ||
                varkel_check::SameName(device, item.substr(0, equals))) {
                return false;
            }
        }
        pairs.emplace_back(item.substr(0, equals), line);
        from = comma + 1;
    }
    out = std::move(pairs);
    return true;
}

// A time as sigrok-cli reads it into seconds: "500", "500ms" (a bare
// number is milliseconds), "3s".
bool ParseSeconds(const std::string& text, double& seconds) {
    std::string number = text;
    double scale = 1e-3;
    if (number.size() > 2 && number.compare(number.size() - 2, 2, "ms") == 0) {
        number.resize(number.size() - 2);
    } else if (number.size() > 1 && number.back() == 's') {
        number.pop_back();
        scale = 1;
    }
    double x = 0;
    const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), x);
    if (ec != std::errc{} || ptr != number.data() + number.size() || !std::isfinite(x)) {
        return false;
    }
    seconds = x * scale;
    return seconds >= 0.001 && seconds <= 1e6;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Parses the command line; returns an exit status to stop with, or -1.
int Parse(const std::vector<std::string>& args, Options& o, std::string& text, std::string& error) {
    varkel_check::CheckRequest& r = o.request;
    // Read once every option is known: they depend on --bits and the names.
    std::string message, channels;
    std::vector<std::string> configs;
    bool namesGiven = false;
    // sigrok-cli's spellings where they mean what they mean there.
    std::vector<common::OptionSpec> specs = {
        {"help", 'h', false},
        {"version", 0, false},
        {"sclk", 0, true},
        {"sfrm", 0, true},
        {"txd", 0, true},
        {"channels", 'C', true},
        {"input-file", 'i', true},
        {"input-format", 'I', true},
        {"wire", 0, true},
        {"frames", 0, true},
        {"json", 0, true},
        {"select-active", 0, true},
        {"message", 0, true},
        {"driver", 'd', true},
        {"config", 'c', true},
        {"samplerate", 0, true},
        {"time", 0, true},
        {"samples", 0, true},
        {"messages", 0, true},
        {"until-done", 0, false},
        {"save-mismatches", 0, true},
        {"scan", 0, false},
    };
    for (const NumberOption& n : kNumbers) {
        specs.push_back({n.name + 2, 0, true});
    }
    common::CommandLine line;
    if (!common::ParseCommandLine(args, specs, line, error)) {
        return kExitUnreadable;
    }
    std::vector<std::string> operands = line.operands;
    operands.insert(operands.end(), line.afterSeparator.begin(), line.afterSeparator.end());
    for (const common::GivenOption& given : line.options) {
        if (std::string(specs[given.spec].name) == "input-file") {
            operands.push_back(given.value);
        }
    }
    for (const std::string& operand : operands) {
        if (!r.path.empty()) {
            error = "one capture at a time: '" + common::Escaped(operand, common::kShownPath) +
                    "' is a second one";
            return kExitUnreadable;
        }
        r.path = operand;
    }
    for (const common::GivenOption& given : line.options) {
        const std::string arg = std::string("--") + specs[given.spec].name;
        const std::string& value = given.value;
        if (arg == "--help" || arg == "--version") {
            text = arg == "--version" ? "varkel-check " VARKEL_VERSION "\nlive acquisition: " +
                                            varkel_check::AcquireLibrary() + "\n"
                                      : kUsage;
            return kExitMatch;
        }
        const NumberOption* number = nullptr;
        for (const NumberOption& n : kNumbers) {
            number = arg == n.name ? &n : number;
        }
        const std::string shown = common::Escaped(arg, common::kShownWord);
        if (arg == "--scan") {
            o.scan = true;
            continue;
        }
        if (arg == "--until-done") {
            o.live.messages = kRunMessages;
            o.limited = true;
            continue;
        }
        if (number != nullptr) {
            double x = 0;
            const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), x);
            if (ec != std::errc{} || ptr != value.data() + value.size() || !std::isfinite(x) ||
                x < number->min || x > number->max || (number->whole && x != std::floor(x))) {
                error = "option " + shown + " takes " + (number->whole ? "a whole number" : "a number") +
                        " from " + Number(number->min) + " to " + Number(number->max) + ", not '" +
                        common::Escaped(value, 64) + "'";
                return kExitUnreadable;
            }
            if (arg == "--port-clock-hz") {
                r.expect.portClockHz = x;
            } else if (arg == "--clock-rate") {
                r.expect.clockRate = static_cast<unsigned>(x);
            } else if (arg == "--bit-tolerance") {
                r.expect.bitTolerance = x / 100;
            } else if (arg == "--bits") {
                r.expect.bits = static_cast<unsigned>(x);
            } else {
                r.expect.intervalTolerance = x / 1000;
            }
        } else if (arg == "--select-active") {
            if (value != "low" && value != "high") {
                error = "option --select-active takes low or high, not '" + common::Escaped(value, 64) + "'";
                return kExitUnreadable;
            }
            r.expect.selectActiveHigh = value == "high";
        } else if (arg == "--save-mismatches") {
            o.saveDir = value;
        } else if (arg == "--driver") {
            o.live.driver = value;
        } else if (arg == "--config") {
            configs.push_back(value);
        } else if (arg == "--input-file") {
            continue;  // taken with the operands
        } else if (arg == "--input-format") {
            o.inputFormat = value;
        } else if (arg == "--samplerate") {
            o.live.sampleRate = value;
        } else if (arg == "--channels") {
            channels = value;
        } else if (arg == "--time") {
            if (!ParseSeconds(value, o.live.seconds)) {
                error =
                    "option --time takes a time from 1 ms to 1000000 s (500 or 500ms, 3s: a bare "
                    "number is milliseconds, as in sigrok-cli), not '" +
                    common::Escaped(value, 64) + "'";
                return kExitUnreadable;
            }
            o.limited = true;
        } else if (arg == "--samples") {
            std::uint64_t n = 0;
            const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (ec != std::errc{} || ptr != value.data() + value.size() || n == 0 || n > kMaxSamples) {
                error = "option --samples takes a whole number from 1 to " + std::to_string(kMaxSamples) +
                        ", not '" + common::Escaped(value, 64) + "'";
                return kExitUnreadable;
            }
            o.live.samples = n;
            o.limited = true;
        } else if (arg == "--messages") {
            unsigned n = 0;
            const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (ec != std::errc{} || ptr != value.data() + value.size() || n == 0 || n > 100000000) {
                error = "option --messages takes a whole number from 1 to 100000000, not '" +
                        common::Escaped(value, 64) + "'";
                return kExitUnreadable;
            }
            o.live.messages = n;
            o.limited = true;
        } else if (arg == "--message") {
            message = value;
        } else if (arg == "--sclk" || arg == "--sfrm" || arg == "--txd") {
            (arg == "--sclk" ? r.names.sclk : arg == "--sfrm" ? r.names.sfrm : r.names.txd) = value;
            namesGiven = true;
        } else if (arg == "--frames" || arg == "--wire") {
            if (arg == "--frames") {
                o.notes.push_back(
                    "note: --frames is spelt --wire now, as in varkel-sim (in sigrok-cli, "
                    "--frames is a count)");
            }
            o.framesPath = value;
        } else {
            o.jsonPath = value;
        }
    }
    // A file's channels named for the lines: -C D0=sclk,D1=sfrm,D2=txd
    // reads the file's channel D0 as the clock, as --sclk D0 does.
    if (!channels.empty() && o.live.driver.empty()) {
        std::vector<std::pair<std::string, std::string>> pairs;
        if (namesGiven) {
            error = "name the lines with --channels or with --sclk, --sfrm and --txd, not both";
            return kExitUnreadable;
        }
        if (!ParseChannels(channels, r.names, pairs) || pairs.size() != 3) {
            error =
                "option --channels takes CH=LINE pairs, one for each line, as D0=sclk,D1=sfrm,D2=txd, "
                "not '" +
                common::Escaped(channels, 64) + "'";
            return kExitUnreadable;
        }
        varkel_check::LineNames named = r.names;
        for (const auto& [channel, carried] : pairs) {
            (varkel_check::SameName(carried, r.names.sclk)   ? named.sclk
             : varkel_check::SameName(carried, r.names.sfrm) ? named.sfrm
                                                             : named.txd) = channel;
        }
        r.names = named;
        channels.clear();
    }
    // Each line its own signal: two options naming one would read one
    // signal as two lines.
    const std::pair<const char*, const std::string*> lines[] = {
        {"--sclk", &r.names.sclk}, {"--sfrm", &r.names.sfrm}, {"--txd", &r.names.txd}};
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = i + 1; j < 3; ++j) {
            if (varkel_check::SameName(*lines[i].second, *lines[j].second)) {
                error = std::string(lines[i].first) + " and " + lines[j].first + " name one signal, '" +
                        common::Escaped(*lines[i].second, 64) + "': each line needs its own";
                return kExitUnreadable;
            }
        }
    }
    if (message.empty()) {
        r.expect.message = varkel_check::ProgramWords(r.expect.bits);
    } else if (!ParseWords(message, r.expect.bits, r.expect.message, error)) {
        return kExitUnreadable;
    }
    if (!channels.empty() && !ParseChannels(channels, r.names, o.live.channels)) {
        error = "option --channels takes CH=LINE pairs, each line once, as D0=" +
                common::Escaped(r.names.sclk, 64) + ",D1=" + common::Escaped(r.names.sfrm, 64) +
                ",D2=" + common::Escaped(r.names.txd, 64) + ", not '" + common::Escaped(channels, 64) + "'";
        return kExitUnreadable;
    }
    if (o.scan) {
        if (!r.path.empty() || o.live.driver.find(':') != std::string::npos || !configs.empty()) {
            error =
                "--scan lists analysers: it takes a driver's name alone (-d fx2lafw), no capture or settings";
            return kExitUnreadable;
        }
        return -1;
    }
    if (!o.live.driver.empty() && !r.path.empty()) {
        error = "a capture file or --driver, not both";
        return kExitUnreadable;
    }
    if (!o.inputFormat.empty() && !o.live.driver.empty()) {
        error = "--input-format reads a file; --driver acquires: one or the other";
        return kExitUnreadable;
    }
    if (o.live.driver.empty() &&
        (o.limited || !o.live.sampleRate.empty() || !configs.empty() || !o.saveDir.empty())) {
        error =
            "--time, --samples, --messages, --until-done, --samplerate, --config and --save-mismatches "
            "are for --driver";
        return kExitUnreadable;
    }
    // A device's settings, as sigrok-cli's --config gives them: KEY=VALUE,
    // several joined by ':', set on the device as the driver's own are.
    for (const std::string& config : configs) {
        if (config.empty() || config.front() == ':' || config.back() == ':' ||
            config.find("::") != std::string::npos) {
            error = "option --config takes KEY=VALUE settings joined by ':', as samplerate=8m, not '" +
                    common::Escaped(config, 64) + "'";
            return kExitUnreadable;
        }
        o.live.driver += ":" + config;
    }
    if (r.path.empty() && o.live.driver.empty()) {
        error = "which capture? (see --help)";
        return kExitUnreadable;
    }
    if (!o.live.driver.empty()) {
        r.path = "live from " + o.live.driver;
    }
    return -1;
}

// One line on standard error; false when even that could not be written.
bool Say(const std::string& line) {
    return common::WriteAll(STDERR_FILENO, "varkel-check: " + line + "\n");
}

// Writes the report to standard output; on failure says so where it can.
bool WriteStandardOutput(const std::string& text) {
    if (common::WriteAll(STDOUT_FILENO, text)) {
        return true;
    }
    Say(std::string("cannot write standard output: ") + std::strerror(errno));
    return false;
}

// On a terminal, a line that shows a long read moving (a large or a
// hostile archive), and says how to stop it.
class ProgressLine {
  public:
    ProgressLine(std::string path) : path_(std::move(path)), onTerminal_(::isatty(STDERR_FILENO) != 0) {}
    ~ProgressLine() {
        if (shown_) {
            common::WriteAll(STDERR_FILENO, "\r\033[K");
        }
    }
    bool Update(std::uint64_t bytes) {
        const auto now = std::chrono::steady_clock::now();
        if (onTerminal_ && now - start_ > std::chrono::seconds(1) &&
            now - last_ > std::chrono::milliseconds(250)) {
            last_ = now;
            shown_ = true;
            common::WriteAll(STDERR_FILENO, "\r\033[Kvarkel-check: reading " + common::Escaped(path_, 64) +
                                                ": " + std::to_string(bytes >> 20) +
                                                " MiB so far (Ctrl-C stops)");
        }
        return !common::StopRequested();
    }

  private:
    std::string path_;
    bool onTerminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_{};
};

// Writes each word read to the wire log, when one was asked for.
varkel_check::CheckPipeline::OnWord WireLog(common::OutputFile& wire, unsigned bits) {
    return [&wire, bits](const varkel_check::Word& word, std::uint64_t startNs) {
        if (wire.isOpen()) {
            wire.Write(varkel_check::FrameLine(startNs, word.risingValue, bits));
        }
    };
}

// Commits the outputs, then gives the verdict.
int Conclude(const Options& o, const varkel_check::Outcome& outcome, common::OutputFile& frames,
             common::OutputFile& json) {
    std::string error;
    if (json.isOpen()) {
        json.Write(varkel_check::Json(outcome, o.request, VARKEL_VERSION));
    }
    // Outputs first: a verdict is given only when everything asked for was
    // written, so a run that printed one left nothing broken behind.
    bool written = true;
    for (common::OutputFile* file : {&frames, &json}) {
        if (!file->Commit(error)) {
            Say(error);
            written = false;
        }
    }
    if (!written) {
        return kExitUnreadable;
    }
    // Data on standard output (--json -, --frames -) keeps it for the data:
    // the verdict goes to standard error, so a script reads one document.
    const std::string report =
        varkel_check::VerdictLine(outcome.report) + "\n" + varkel_check::Details(outcome, o.request);
    const bool dataOnStdout = frames.isStandardOutput() || json.isStandardOutput();
    if (dataOnStdout ? !common::WriteAll(STDERR_FILENO, report) : !WriteStandardOutput(report)) {
        return kExitUnreadable;
    }
    return outcome.report.match ? kExitMatch : kExitMismatch;
}

// Standard input, copied whole into memory first: a session's archive is
// read from its end. -1, with errno, when it cannot be.
int StandardInputCopy() {
    const int fd = ::memfd_create("varkel-check standard input", MFD_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR && !common::StopRequested()) {
            continue;
        }
        if (n <= 0 || !common::WriteAll(fd, std::string_view(buffer, static_cast<std::size_t>(n)))) {
            const int saved = n == 0 ? 0 : errno;
            if (n == 0 && ::lseek(fd, 0, SEEK_SET) == 0) {
                return fd;
            }
            ::close(fd);
            errno = saved;
            return -1;
        }
    }
}

int Check(const Options& o) {
    const bool standardInput = o.request.path == "-";
    const std::string shown =
        standardInput ? "standard input" : common::Escaped(o.request.path, common::kShownPath);
    const int captureFd =
        standardInput ? StandardInputCopy() : ::open(o.request.path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (captureFd < 0) {
        Say("cannot read " + shown + ": " + std::strerror(errno));
        return common::StopRequested() ? 128 + common::StopSignal() : kExitUnreadable;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{captureFd};

    // Outputs are checked and created before the capture is read; none of
    // them may be the capture, under any name.
    common::OutputFile frames, json;
    const std::vector<std::pair<common::OutputFile*, std::string>> outputs = {{&frames, o.framesPath},
                                                                              {&json, o.jsonPath}};
    std::string error;
    bool ok = common::PlanOutputs(outputs,
                                  {{"standard error, where varkel-check reports", STDERR_FILENO},
                                   {"the capture being checked", captureFd}},
                                  error);
    for (const auto& [file, path] : outputs) {
        ok = ok && (path.empty() || file->Open(error));
    }
    if (!ok) {
        Say(error);
        return common::StopRequested() ? 128 + common::StopSignal() : kExitUnreadable;
    }

    varkel_check::Outcome outcome;
    if (!o.inputFormat.empty()) {  // another writer's format, through libsigrok
        varkel_check::CheckPipeline pipeline(o.request.expect, WireLog(frames, o.request.expect.bits));
        if (!varkel_check::ReadThroughInputModule(captureFd, o.inputFormat, o.request.names, pipeline,
                                                  outcome.info, error)) {
            Say(shown + ": " + error);
            return common::StopRequested() ? 128 + common::StopSignal() : kExitUnreadable;
        }
        outcome.report = pipeline.Finish();
        return Conclude(o, outcome, frames, json);
    }
    ProgressLine progress(o.request.path);
    ok = varkel_check::CheckCapture(
        captureFd, o.request, WireLog(frames, o.request.expect.bits),
        [&](std::uint64_t bytes) { return progress.Update(bytes); }, outcome, error);
    if (const int signal = common::StopSignal(); signal != 0) {  // what was read is not the whole capture
        Say("stopped by " + std::string(sigabbrev_np(signal) != nullptr ? sigabbrev_np(signal) : "a signal") +
            " before the capture was read whole; no verdict");
        return 128 + signal;  // the outputs, never completed, are removed
    }
    if (!ok) {
        Say(error);
        return kExitUnreadable;
    }
    return Conclude(o, outcome, frames, json);
}

// The analysers libsigrok finds, as sigrok-cli's --scan lists them, with
// the driver and conn= to give -d.
int Scan(const std::string& driver) {
    std::vector<std::string> found;
    std::string error;
    if (!varkel_check::ScanAnalysers(driver, found, error)) {
        Say(error);
        return kExitUnreadable;
    }
    if (found.empty()) {
        Say("no analyser found" + (driver.empty() ? std::string() : " by the " + driver + " driver") +
            ": is it plugged in, and may this user open it?");
        return kExitUnreadable;
    }
    std::string text;
    for (const std::string& line : found) {
        text += line + "\n";
    }
    return WriteStandardOutput(text) ? kExitMatch : kExitUnreadable;
}

// Live: the analyser's samples checked as they come.
int Live(const Options& o) {
    common::OutputFile frames, json;
    const std::vector<std::pair<common::OutputFile*, std::string>> outputs = {{&frames, o.framesPath},
                                                                              {&json, o.jsonPath}};
    std::string error;
    bool ok =
        common::PlanOutputs(outputs, {{"standard error, where varkel-check reports", STDERR_FILENO}}, error);
    for (const auto& [file, path] : outputs) {
        ok = ok && (path.empty() || file->Open(error));
    }
    if (!ok) {
        Say(error);
        return kExitUnreadable;
    }
    // The folder for mismatch windows, checked (or made) before acquiring.
    struct stat st {};
    if (!o.saveDir.empty() && ::stat(o.saveDir.c_str(), &st) != 0 &&
        (errno != ENOENT || ::mkdir(o.saveDir.c_str(), 0777) != 0 || ::stat(o.saveDir.c_str(), &st) != 0)) {
        Say("cannot make " + common::Escaped(o.saveDir, common::kShownPath) + ": " + std::strerror(errno));
        return kExitUnreadable;
    }
    if (!o.saveDir.empty() && (!S_ISDIR(st.st_mode) || ::access(o.saveDir.c_str(), W_OK | X_OK) != 0)) {
        Say(common::Escaped(o.saveDir, common::kShownPath) +
            " is not a folder varkel-check may write in (--save-mismatches)");
        return kExitUnreadable;
    }
    varkel_check::Outcome outcome;
    varkel_check::MismatchWindows* windows =
        nullptr;  // the pipeline feeds them, and they see its wrong messages
    varkel_check::CheckPipeline pipeline(o.request.expect, WireLog(frames, o.request.expect.bits),
                                         [&](std::uint64_t start, std::uint64_t end) {
                                             if (!o.saveDir.empty()) {
                                                 windows->Save(start, end);
                                             }
                                         });
    varkel_check::MismatchWindows kept(pipeline, o.saveDir, o.request.names);
    windows = &kept;
    const bool onTerminal = ::isatty(STDERR_FILENO) != 0;
    bool announced = false;
    varkel_check::AcquireStatus status;
    ok = varkel_check::Acquire(
        o.live, o.request.names, kept, outcome.info, [&] { return pipeline.messages(); },
        [&](const varkel_check::AcquireStatus& now) {
            if (!announced) {  // once samples flow, so a stop from here on has something to judge
                announced = true;
                Say("acquiring: " + common::Escaped(outcome.info.resolution, 96) +
                    "; Ctrl-C stops it with the verdict for what was seen");
            }
            if (onTerminal) {
                char line[160];
                std::snprintf(line, sizeof line,
                              "\r\033[Kvarkel-check: %.1f s, %s frames, %u messages checked", now.seconds,
                              varkel_check::Grouped(pipeline.words()).c_str(), pipeline.messages());
                common::WriteAll(STDERR_FILENO, line);
            }
        },
        status, error);
    if (onTerminal && announced) {
        common::WriteAll(STDERR_FILENO, "\r\033[K");
    }
    if (!ok) {
        Say(error);
        return kExitUnreadable;
    }
    outcome.report = pipeline.Finish();
    const int verdict = Conclude(o, outcome, frames, json);
    if (!o.saveDir.empty()) {
        Say(kept.saved() == 0 ? std::string("no mismatch window saved")
                              : "saved " + std::to_string(kept.saved()) + " mismatch window(s), from " +
                                    common::Escaped(kept.firstSaved(), common::kShownPath));
        if (kept.notSaved() != 0) {
            Say(std::to_string(kept.notSaved()) + " more wrong message(s) not saved" +
                (kept.error().empty() ? " (at most 20 are kept)" : ": " + kept.error()));
        }
    }
    if (status.endedEarly) {
        char line[160];
        std::snprintf(
            line, sizeof line,
            "the analyser stopped sending after %.3f s (unplugged?): the verdict is for what was seen",
            status.seconds);
        Say(line);
        return kExitUnreadable;
    }
    return verdict;
}

}  // namespace

int main(int argc, char** argv) {
    common::OpenClosedStandardDescriptors();
    // No SA_RESTART: a read or a wait for a FIFO's reader must wake up to
    // see the stop.
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);  // a reader that left is a write error, said as one
    std::signal(SIGXFSZ, SIG_IGN);  // so is a file-size limit, as a full disk is

    Options o;
    std::string text, error;
    const int early = Parse(std::vector<std::string>(argv + 1, argv + argc), o, text, error);
    for (const std::string& note : o.notes) {
        Say(note);
    }
    if (early >= 0) {
        if (!error.empty()) {
            Say(error);
        }
        return !text.empty() && !WriteStandardOutput(text) ? kExitUnreadable : early;
    }
    if (o.scan) {
        return Scan(o.live.driver);
    }
    return o.live.driver.empty() ? Check(o) : Live(o);
}
