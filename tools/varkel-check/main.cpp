// varkel-check: holds a logic analyser's capture of a real board against
// the wire the program should produce.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "platform/channels.h"
#include "platform/escape.h"
#include "tools/common/output_file.h"
#include "tools/varkel-check/run.h"

namespace {

constexpr int kExitMatch = 0, kExitMismatch = 1, kExitUnreadable = 2;

constexpr const char* kUsage =
    "Usage: varkel-check [options] CAPTURE\n"
    "Checks a logic analyser's capture of the board's serial clock, frame and transmit\n"
    "pins against what the Varkel test program sends: \"ZEL NSSP\" and a zero byte, nine\n"
    "8-bit frames MSB first, clock idle low, data sampled on the rising edge, one message\n"
    "a second. CAPTURE is a value change dump (.vcd) or a sigrok session file (.sr).\n"
    "\n"
    "  --sclk NAME, --sfrm NAME, --txd NAME\n"
    "                        the capture's names for the pins (default sclk, sfrm, txd;\n"
    "                        matched in any scope, without regard to case)\n"
    "  --port-clock-hz HZ    the port's base clock, 1 to 1e10 (default 10000000, the\n"
    "                        simulated board's)\n"
    "  --clock-rate N        the program's clock-rate setting, 0 to 255 (default 6): a bit\n"
    "                        lasts N + 1 base clock periods\n"
    "  --bit-tolerance PCT   how far the bit time may stray, 0.01 to 50 (default 5)\n"
    "  --interval-tolerance-ms MS\n"
    "                        how far a message's start may stray from 1 s after the last\n"
    "                        one's, 0.001 to 1000 (default 5)\n"
    "  --frames FILE         every complete frame read: \"<seconds> 0x<value>\", as\n"
    "                        varkel-sim's wire log\n"
    "  --bits N              bits a word, 1 to 32 (default 8, the program's)\n"
    "  --select-active low|high\n"
    "                        the frame (select) line's active level (default low)\n"
    "  --message HEX         the bytes a message holds, 1 to 64 in hex (default\n"
    "                        5A454C204E53535000, the program's): to read a port sending\n"
    "                        something else, and to judge its bit order and phase\n"
    "  --json FILE           the verdict and figures as JSON\n"
    "  --help, --version\n"
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
    "that cannot be written is said, with no verdict.\n"
    "Exit status: 0 match, 1 mismatch, 2 the capture cannot be read or is damaged, or a\n"
    "bad option or output; 128 + N when signal N stopped it (no verdict).\n";

volatile std::sig_atomic_t g_signal = 0;

extern "C" void OnStopSignal(int signal) {
    if (g_signal == 0) {
        g_signal = signal;
    }
}

struct Options {
    check::CheckRequest request;
    std::string framesPath;
    std::string jsonPath;
};

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

constexpr std::size_t kMaxMessage = 64;

// "5a6B" to {0x5A, 0x6B}; false for anything else, or over kMaxMessage bytes.
bool ParseHex(const std::string& text, std::vector<std::uint8_t>& bytes) {
    if (text.empty() || text.size() % 2 != 0 || text.size() > 2 * kMaxMessage) {
        return false;
    }
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned byte = 0;
        const auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + i + 2, byte, 16);
        if (ec != std::errc{} || ptr != text.data() + i + 2) {
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(byte));
    }
    bytes = std::move(out);
    return true;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Parses the command line; returns an exit status to stop with, or -1.
int Parse(const std::vector<std::string>& args, Options& o, std::string& text, std::string& error) {
    check::CheckRequest& r = o.request;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        }
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            text = arg == "--version" ? "varkel-check " VARKEL_VERSION "\n" : kUsage;
            return kExitMatch;
        }
        if (arg.rfind("-", 0) != 0 || arg == "-") {
            if (!r.path.empty()) {
                error = "one capture at a time: '" + platform::Escaped(arg) + "' is a second one";
                return kExitUnreadable;
            }
            r.path = arg;
            continue;
        }
        const NumberOption* number = nullptr;
        for (const NumberOption& n : kNumbers) {
            number = arg == n.name ? &n : number;
        }
        const bool known = number != nullptr || arg == "--sclk" || arg == "--sfrm" || arg == "--txd" ||
                           arg == "--frames" || arg == "--json" || arg == "--select-active" ||
                           arg == "--message";
        const std::string shown = platform::Escaped(arg);
        if (!known) {
            error = "unknown option '" + shown + "' (see --help)";
            return kExitUnreadable;
        }
        if (equals == std::string::npos && i + 1 < args.size()) {
            value = args[++i];
        }
        if (value.empty()) {
            error = "option " + shown + " needs a value";
            return kExitUnreadable;
        }
        if (number != nullptr) {
            double x = 0;
            const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), x);
            if (ec != std::errc{} || ptr != value.data() + value.size() || !std::isfinite(x) ||
                x < number->min || x > number->max || (number->whole && x != std::floor(x))) {
                error = "option " + shown + " takes " + (number->whole ? "a whole number" : "a number") +
                        " from " + Number(number->min) + " to " + Number(number->max) + ", not '" +
                        platform::Escaped(value, 64) + "'";
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
                error =
                    "option --select-active takes low or high, not '" + platform::Escaped(value, 64) + "'";
                return kExitUnreadable;
            }
            r.expect.selectActiveHigh = value == "high";
        } else if (arg == "--message") {
            if (!ParseHex(value, r.expect.message)) {
                error = "option --message takes 1 to " + std::to_string(kMaxMessage) +
                        " bytes in hex, as 5A454C, not '" + platform::Escaped(value, 64) + "'";
                return kExitUnreadable;
            }
        } else if (arg == "--sclk" || arg == "--sfrm" || arg == "--txd") {
            (arg == "--sclk" ? r.names.sclk : arg == "--sfrm" ? r.names.sfrm : r.names.txd) = value;
        } else {
            (arg == "--frames" ? o.framesPath : o.jsonPath) = value;
        }
    }
    if (r.path.empty()) {
        error = "which capture? (see --help)";
        return kExitUnreadable;
    }
    return -1;
}

// One line on standard error; false when even that could not be written.
bool Say(const std::string& line) {
    return platform::WriteAll(STDERR_FILENO, "varkel-check: " + line + "\n");
}

// Writes the report to standard output; on failure says so where it can.
bool WriteStandardOutput(const std::string& text) {
    if (platform::WriteAll(STDOUT_FILENO, text)) {
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
            platform::WriteAll(STDERR_FILENO, "\r\033[K");
        }
    }
    bool Update(std::uint64_t bytes) {
        const auto now = std::chrono::steady_clock::now();
        if (onTerminal_ && now - start_ > std::chrono::seconds(1) &&
            now - last_ > std::chrono::milliseconds(250)) {
            last_ = now;
            shown_ = true;
            platform::WriteAll(STDERR_FILENO, "\r\033[Kvarkel-check: reading " +
                                                  platform::Escaped(path_, 64) + ": " +
                                                  std::to_string(bytes >> 20) + " MiB so far (Ctrl-C stops)");
        }
        return g_signal == 0;
    }

  private:
    std::string path_;
    bool onTerminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_{};
};

int Check(const Options& o) {
    const std::string shown = platform::Escaped(o.request.path);
    const int captureFd = ::open(o.request.path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (captureFd < 0) {
        Say("cannot read " + shown + ": " + std::strerror(errno));
        return g_signal != 0 ? 128 + g_signal : kExitUnreadable;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{captureFd};

    // Outputs are checked and created before the capture is read; none of
    // them may be the capture, under any name.
    tools::OutputFile frames, json;
    const std::vector<std::pair<tools::OutputFile*, std::string>> outputs = {{&frames, o.framesPath},
                                                                             {&json, o.jsonPath}};
    std::string error;
    bool ok = tools::PlanOutputs(outputs,
                                 {{"standard error, where varkel-check reports", STDERR_FILENO},
                                  {"the capture being checked", captureFd}},
                                 error);
    for (const auto& [file, path] : outputs) {
        ok = ok && (path.empty() || file->Open(error));
    }
    if (!ok) {
        Say(error);
        return g_signal != 0 ? 128 + g_signal : kExitUnreadable;
    }

    check::Outcome outcome;
    ProgressLine progress(o.request.path);
    ok = check::CheckCapture(
        captureFd, o.request,
        [&](const check::WireFrame& frame, std::uint64_t startNs) {
            if (frames.isOpen()) {
                frames.Write(check::FrameLine(startNs, frame.risingValue, o.request.expect.bits));
            }
        },
        [&](std::uint64_t bytes) { return progress.Update(bytes); }, outcome, error);
    if (g_signal != 0) {  // whatever was read, it was not the whole capture
        Say("stopped by " +
            std::string(sigabbrev_np(g_signal) != nullptr ? sigabbrev_np(g_signal) : "a signal") +
            " before the capture was read whole; no verdict");
        return 128 + g_signal;  // the outputs, never completed, are removed
    }
    if (!ok) {
        Say(error);
        return kExitUnreadable;
    }
    if (json.isOpen()) {
        json.Write(check::Json(outcome, o.request, VARKEL_VERSION));
    }
    // Outputs first: a verdict is given only when everything asked for was
    // written, so a run that printed one left nothing broken behind.
    bool written = true;
    for (tools::OutputFile* file : {&frames, &json}) {
        if (!file->Commit(error)) {
            Say(error);
            written = false;
        }
    }
    if (!written) {
        return kExitUnreadable;
    }
    if (!WriteStandardOutput(check::VerdictLine(outcome.report) + "\n" +
                             check::Details(outcome, o.request))) {
        return kExitUnreadable;
    }
    return outcome.report.match ? kExitMatch : kExitMismatch;
}

}  // namespace

int main(int argc, char** argv) {
    tools::OpenClosedStandardDescriptors();
    // No SA_RESTART: a read or a wait for a FIFO's reader must wake up to
    // see the stop.
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);  // a reader that left is a write error, said as one
    platform::SetInterruptFlag(&g_signal);

    Options o;
    std::string text, error;
    const int early = Parse(std::vector<std::string>(argv + 1, argv + argc), o, text, error);
    if (early >= 0) {
        if (!error.empty()) {
            Say(error);
        }
        return !text.empty() && !WriteStandardOutput(text) ? kExitUnreadable : early;
    }
    return Check(o);
}
