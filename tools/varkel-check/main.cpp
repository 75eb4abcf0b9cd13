// varkel-check: holds a logic analyser's capture of a real board against
// the wire the program should produce.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/escape.h"
#include "tools/common/json.h"
#include "tools/common/output_file.h"
#include "tools/varkel-check/capture.h"
#include "tools/varkel-check/check.h"
#include "tools/varkel-check/frames.h"

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
    "  --port-clock-hz HZ    the port's base clock (default 10000000, the simulated board's)\n"
    "  --clock-rate N        the program's clock-rate setting (default 6): a bit lasts\n"
    "                        N + 1 base clock periods\n"
    "  --bit-tolerance PCT   how far the bit time may stray (default 5)\n"
    "  --interval-tolerance-ms MS\n"
    "                        how far a message's start may stray from 1 s after the last\n"
    "                        one's (default 5)\n"
    "  --frames FILE         every complete frame read: \"<seconds> 0x<value>\", as\n"
    "                        varkel-sim's wire log\n"
    "  --json FILE           the verdict and figures as JSON\n"
    "  --help, --version\n"
    "\n"
    "The first line is the verdict: \"varkel-check: match: ...\" or \"varkel-check: mismatch\n"
    "at T s, message K, byte J: <what>\", naming the likely cause. Partial frames and\n"
    "messages at the capture's edges are left out, and said so.\n"
    "Exit status: 0 match, 1 mismatch, 2 the capture cannot be read or a bad option.\n";

struct Options {
    std::string capture;
    check::LineNames names;
    check::Expectation expect;
    std::string framesPath;
    std::string jsonPath;
};

bool ParseNumber(const std::string& text, double& value) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && ptr == text.data() + text.size() && value > 0;
}

// Parses the command line; returns an exit status to stop with, or -1.
int Parse(const std::vector<std::string>& args, Options& o, std::ostream& out, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        }
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            out << (arg == "--version" ? "varkel-check " VARKEL_VERSION "\n" : kUsage) << std::flush;
            return out.good() ? kExitMatch : kExitUnreadable;
        }
        if (arg.rfind("-", 0) != 0 || arg == "-") {
            if (!o.capture.empty()) {
                error = "one capture at a time: '" + platform::Escaped(arg) + "' is a second one";
                return kExitUnreadable;
            }
            o.capture = arg;
            continue;
        }
        if (equals == std::string::npos && i + 1 < args.size()) {
            value = args[++i];
        }
        double number = 0;
        const std::string shown = platform::Escaped(arg);
        if (value.empty()) {
            error = (arg == "--sclk" || arg == "--sfrm" || arg == "--txd" || arg == "--port-clock-hz" ||
                     arg == "--clock-rate" || arg == "--bit-tolerance" || arg == "--interval-tolerance-ms" ||
                     arg == "--frames" || arg == "--json")
                        ? "option " + shown + " needs a value"
                        : "unknown option '" + shown + "' (see --help)";
            return kExitUnreadable;
        }
        if (arg == "--sclk" || arg == "--sfrm" || arg == "--txd") {
            (arg == "--sclk" ? o.names.sclk : arg == "--sfrm" ? o.names.sfrm : o.names.txd) = value;
        } else if (arg == "--frames" || arg == "--json") {
            (arg == "--frames" ? o.framesPath : o.jsonPath) = value;
        } else if (arg == "--port-clock-hz" || arg == "--clock-rate" || arg == "--bit-tolerance" ||
                   arg == "--interval-tolerance-ms") {
            if (!ParseNumber(value, number) || (arg == "--clock-rate" && (number > 255 || number != static_cast<int>(number)))) {
                error = "option " + shown + " takes a positive number, not '" + platform::Escaped(value) + "'";
                return kExitUnreadable;
            }
            if (arg == "--port-clock-hz") {
                o.expect.portClockHz = number;
            } else if (arg == "--clock-rate") {
                o.expect.clockRate = static_cast<unsigned>(number);
            } else if (arg == "--bit-tolerance") {
                o.expect.bitTolerance = number / 100;
            } else {
                o.expect.intervalTolerance = number / 1000;
            }
        } else {
            error = "unknown option '" + shown + "' (see --help)";
            return kExitUnreadable;
        }
    }
    if (o.capture.empty()) {
        error = "which capture? (see --help)";
        return kExitUnreadable;
    }
    return -1;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Verdict(const check::Report& r) {
    if (r.match) {
        return "varkel-check: match: " + std::to_string(r.messages) + " messages (" + std::to_string(r.frames) +
               " frames), bit time " + Fixed(r.bitNs, 1) + " ns (expected " + Fixed(r.expectedBitNs, 1) +
               " ns), message interval " + (r.intervals != 0 ? Fixed(r.intervalMs, 3) + " ms" : "n/a (one message)");
    }
    const check::Mismatch& m = r.mismatch;
    if (m.message == 0) {
        return "varkel-check: mismatch: " + m.what;  // about the whole capture
    }
    std::string where = "varkel-check: mismatch at " + Fixed(m.seconds, 6) + " s";
    if (m.message != 0) {
        where += ", message " + std::to_string(m.message);
    }
    if (m.byte != 0) {
        where += ", byte " + std::to_string(m.byte);
    }
    return where + ": " + m.what;
}

std::string Details(const check::Report& r, const check::CaptureInfo& info, const Options& o) {
    std::ostringstream text;
    text << "  capture: " << o.capture << " (" << info.format << ", " << info.resolution << "), "
         << Fixed(static_cast<double>(info.startTick) * info.secondsPerTick, 6) << " s to "
         << Fixed(static_cast<double>(info.endTick) * info.secondsPerTick, 6) << " s\n"
         << "  frames: " << r.frames << " in complete messages; partial frames left out: " << r.partialFramesAtStart
         << " at the start, " << r.partialFramesAtEnd << " at the end\n"
         << "  messages: " << r.messages << " complete; partial messages left out: " << r.partialMessagesAtStart
         << " at the start, " << r.partialMessagesAtEnd << " at the end\n"
         << "  bit time: " << Fixed(r.bitNs, 1) << " ns mean (" << Fixed(r.bitNsMin, 1) << " to " << Fixed(r.bitNsMax, 1)
         << "), expected " << Fixed(r.expectedBitNs, 1) << " ns +/- " << Fixed(o.expect.bitTolerance * 100, 1)
         << "% (clock rate " << o.expect.clockRate << ", port clock " << Fixed(o.expect.portClockHz, 0) << " Hz)\n"
         << "  message interval: ";
    if (r.intervals != 0) {
        text << Fixed(r.intervalMs, 3) << " ms mean (" << Fixed(r.intervalMsMin, 3) << " to " << Fixed(r.intervalMsMax, 3)
             << "), expected " << Fixed(o.expect.intervalSeconds * 1e3, 0) << " +/- "
             << Fixed(o.expect.intervalTolerance * 1e3, 1) << " ms\n";
    } else {
        text << "n/a (fewer than two messages)\n";
    }
    return text.str();
}

std::string Json(const check::Report& r, const check::CaptureInfo& info, const Options& o) {
    std::ostringstream j;
    j << "{\n  \"schema_version\": 1,\n  \"tool\": \"varkel-check\",\n  \"version\": \"" VARKEL_VERSION "\",\n"
      << "  \"capture\": " << tools::JsonString(o.capture) << ",\n  \"format\": " << tools::JsonString(info.format) << ",\n"
      << "  \"verdict\": \"" << (r.match ? "match" : "mismatch") << "\",\n";
    if (r.match) {
        j << "  \"mismatch\": null,\n";
    } else {
        j << "  \"mismatch\": {\"seconds\": " << Fixed(r.mismatch.seconds, 9) << ", \"message\": " << r.mismatch.message
          << ", \"byte\": " << r.mismatch.byte << ", \"what\": " << tools::JsonString(r.mismatch.what) << "},\n";
    }
    j << "  \"messages\": " << r.messages << ",\n  \"frames\": " << r.frames << ",\n"
      << "  \"partial_frames_left_out\": " << r.partialFramesAtStart + r.partialFramesAtEnd << ",\n"
      << "  \"partial_messages_left_out\": " << r.partialMessagesAtStart + r.partialMessagesAtEnd << ",\n"
      << "  \"bit_time_ns\": " << Fixed(r.bitNs, 3) << ",\n  \"expected_bit_time_ns\": " << Fixed(r.expectedBitNs, 3)
      << ",\n  \"message_interval_ms\": " << (r.intervals != 0 ? Fixed(r.intervalMs, 6) : "null") << ",\n"
      << "  \"message_interval_ms_min\": " << (r.intervals != 0 ? Fixed(r.intervalMsMin, 6) : "null") << ",\n"
      << "  \"message_interval_ms_max\": " << (r.intervals != 0 ? Fixed(r.intervalMsMax, 6) : "null") << "\n}\n";
    return j.str();
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::string error;
    const int early = Parse(std::vector<std::string>(argv + 1, argv + argc), o, std::cout, error);
    if (early >= 0) {
        if (!error.empty()) {
            std::cerr << "varkel-check: " << error << std::endl;
        }
        return early;
    }
    tools::OutputFile frames, json;
    const std::vector<std::pair<tools::OutputFile*, std::string>> outputs = {{&frames, o.framesPath},
                                                                              {&json, o.jsonPath}};
    bool ok = tools::PlanOutputs(outputs, {{"standard error, where varkel-check reports", STDERR_FILENO}}, error);
    for (const auto& [file, path] : outputs) {
        ok = ok && (path.empty() || file->Open(error));
    }
    if (!ok) {
        std::cerr << "varkel-check: " << error << std::endl;
        return kExitUnreadable;
    }

    check::CaptureInfo info;
    std::unique_ptr<check::Checker> checker;
    check::FrameDecoder decoder([&](const check::WireFrame& frame) {
        if (!checker) {  // made at the first frame: the capture's time unit is known by then
            checker = std::make_unique<check::Checker>(o.expect, info);
        }
        checker->Add(frame);
        if (frames.isOpen()) {
            const double seconds = static_cast<double>(frame.startTick) * info.secondsPerTick;
            char line[64];
            const int n = std::snprintf(line, sizeof line, "%.9f 0x%02X\n", seconds, frame.risingValue);
            frames.Write({line, static_cast<std::size_t>(n)});
        }
    });
    if (!check::ReadCapture(o.capture, o.names, decoder, info, error)) {
        std::cerr << "varkel-check: " << error << std::endl;
        return kExitUnreadable;  // the outputs, never completed, are removed
    }
    if (!checker) {
        checker = std::make_unique<check::Checker>(o.expect, info);
    }
    const check::Report report = checker->Finish(decoder);
    std::cout << Verdict(report) << '\n' << Details(report, info, o);
    if (json.isOpen()) {
        json.Write(Json(report, info, o));
    }
    int status = report.match ? kExitMatch : kExitMismatch;
    for (tools::OutputFile* file : {&frames, &json}) {
        if (!file->Commit(error)) {
            std::cerr << "varkel-check: " << error << std::endl;
            status = kExitUnreadable;
        }
    }
    std::cout.flush();
    return std::cout.good() ? status : kExitUnreadable;
}
