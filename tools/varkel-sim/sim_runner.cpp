#include "tools/varkel-sim/sim_runner.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>

#include "app/port_test.h"
#include "platform/host/host_platform.h"
#include "platform/text_output.h"
#include "sim/output_file.h"
#include "sim/trace_log.h"
#include "sim/vcd_writer.h"
#include "sim/wire_log.h"
#include "ssp/ssp.h"

#ifndef VARKEL_VERSION
#define VARKEL_VERSION "0.0.0"
#endif

namespace runner {

namespace {

constexpr const char* kUsage =
    "usage: varkel-sim [options]\n"
    "Runs the Varkel serial-port test program on a simulated board.\n"
    "\n"
    "  --time real|virtual   real: one message a second, as on the board (default);\n"
    "                        virtual: sleeps take no time, a full run in well under a second\n"
    "  --wire FILE           every frame put on the transmit line: \"<seconds> 0x<value>\"\n"
    "  --vcd FILE            the port's pins as a value change dump (sclk, sfrm, txd, rxd)\n"
    "  --trace FILE          every register access; identical reads folded with a count\n"
    "  --debug-log FILE      the program's debug channel (default: stderr)\n"
    "  --summary-json FILE   the end-of-run summary as JSON\n"
    "  --loopback            jumper the transmit pin to the receive pin\n"
    "  --fault SPEC          a board fault; may be repeated:\n"
    "                          reserve:N   refuse the Nth address-space reservation\n"
    "                          bind:N      refuse the Nth physical binding\n"
    "                          tx-stuck    the transmit FIFO never reports room\n"
    "                          clock-off   the port's clock gate stays off\n"
    "                          tx-slow:K   the port shifts K times slower than programmed\n"
    "  --help                this text\n"
    "  --version             the version\n"
    "\n"
    "Output files are written as FILE.part and renamed when the run ends.\n"
    "Exit status: the program's (0 full run, 1 a window could not be mapped);\n"
    "2 for a bad option or an output file that cannot be written; 130 if interrupted.\n";

bool ParseCount(const std::string& text, std::uint32_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc{} && ptr == end && value > 0;
}

bool ParseFault(const std::string& spec, Options& options, std::string& error) {
    const std::size_t colon = spec.find(':');
    const std::string name = spec.substr(0, colon);
    const std::string arg = colon == std::string::npos ? "" : spec.substr(colon + 1);
    const bool hasArg = colon != std::string::npos;
    std::uint32_t n = 0;
    if ((name == "reserve" || name == "bind" || name == "tx-slow") && hasArg && ParseCount(arg, n)) {
        if (name == "reserve") {
            options.refuseReserve.push_back(n);
        } else if (name == "bind") {
            options.refuseBind.push_back(n);
        } else {
            options.board.txSlow = n;
        }
        return true;
    }
    if (name == "reserve" || name == "bind" || name == "tx-slow") {
        error = "fault '" + spec + "' needs a count from 1, as in " + name + ":2";
        return false;
    }
    if (name == "tx-stuck" && !hasArg) {
        options.board.txStuck = true;
        return true;
    }
    if (name == "clock-off" && !hasArg) {
        options.board.clockOff = true;
        return true;
    }
    error = "unknown fault '" + spec + "' (reserve:N, bind:N, tx-stuck, clock-off, tx-slow:K)";
    return false;
}

// Everything a run writes, so an interrupt can finish it from anywhere.
struct Session {
    Options options;
    std::ostream* err = nullptr;
    std::unique_ptr<sim::Board> board;
    sim::OutputFile wire, vcd, trace, debugLog;
    std::unique_ptr<sim::WireLog> wireLog;
    std::unique_ptr<sim::VcdWriter> vcdWriter;
    std::unique_ptr<sim::TraceLog> traceLog;
    std::uint64_t realStartNs = 0;
};

Session* g_session = nullptr;
volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) {
    g_stop = 1;
}

// Completes every output and the summary; returns the final exit status.
int Finish(Session& s, int programStatus, bool interrupted) {
    s.board->Finish();
    platform::FlushChannels();
    Summary summary;
    summary.exitStatus = programStatus;
    summary.interrupted = interrupted;
    const sim::SspStats& stats = s.board->ssp().stats;
    summary.framesOnWire = stats.framesSent;
    summary.framesDropped = stats.txDropped;
    summary.sendsGaveUp = SspSendGiveUps;
    summary.framesLeftInFifo = s.board->ssp().txLevel();
    summary.framesReceived = stats.framesReceived;
    summary.receiveDropped = stats.rxDropped;
    summary.registerAccesses = s.board->accesses();
    summary.noDeviceAccesses = s.board->noDeviceAccesses();
    summary.unknownRegisterAccesses = s.board->unknownRegisterAccesses();
    summary.strayAccesses = host::StrayAccesses();
    summary.simulatedNs = s.board->Now();
    summary.realNs = sim::MonotonicNs() - s.realStartNs;

    int status = programStatus;
    std::string error;
    for (sim::OutputFile* file : {&s.wire, &s.vcd, &s.trace, &s.debugLog}) {
        if (!file->Commit(error)) {
            *s.err << "varkel-sim: " << error << '\n';
            status = kExitUsage;
        }
    }
    // Restore the channels before the summary: the debug log is closed now.
    platform::ResetChannels();
    *s.err << SummaryText(summary);
    if (!s.options.summaryJsonPath.empty()) {
        sim::OutputFile json;
        if (json.Open(s.options.summaryJsonPath, error)) {
            json.Write(SummaryJson(summary));
        }
        if (!json.isOpen() || !json.Commit(error)) {
            *s.err << "varkel-sim: " << error << '\n';
            status = kExitUsage;
        }
    }
    s.err->flush();
    return status;
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    Options options;
    options.board.time = sim::TimeMode::Real;  // one message a second, as on the board
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
            hasValue = true;
        }
        auto take = [&](std::string& into) {
            if (!hasValue) {
                if (i + 1 >= args.size()) {
                    error = "option " + arg + " needs a value";
                    return false;
                }
                value = args[++i];
            }
            if (value.empty()) {
                error = "option " + arg + " needs a value";
                return false;
            }
            into = value;
            return true;
        };
        std::string text;
        const bool isFlag = arg == "--help" || arg == "-h" || arg == "--version" || arg == "--loopback";
        if (isFlag && hasValue) {
            error = "option " + arg + " takes no value";
            return std::nullopt;
        }
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--loopback") {
            options.board.loopback = true;
        } else if (arg == "--time") {
            if (!take(text)) {
                return std::nullopt;
            }
            if (text == "real") {
                options.board.time = sim::TimeMode::Real;
            } else if (text == "virtual") {
                options.board.time = sim::TimeMode::Virtual;
            } else {
                error = "--time takes real or virtual, not '" + text + "'";
                return std::nullopt;
            }
        } else if (arg == "--fault") {
            if (!take(text) || !ParseFault(text, options, error)) {
                return std::nullopt;
            }
        } else if (arg == "--wire") {
            if (!take(options.wirePath)) {
                return std::nullopt;
            }
        } else if (arg == "--vcd") {
            if (!take(options.vcdPath)) {
                return std::nullopt;
            }
        } else if (arg == "--trace") {
            if (!take(options.tracePath)) {
                return std::nullopt;
            }
        } else if (arg == "--debug-log") {
            if (!take(options.debugLogPath)) {
                return std::nullopt;
            }
        } else if (arg == "--summary-json") {
            if (!take(options.summaryJsonPath)) {
                return std::nullopt;
            }
        } else {
            error = "unknown option '" + args[i] + "' (see --help)";
            return std::nullopt;
        }
    }
    return options;
}

std::string SummaryText(const Summary& s) {
    char text[768];
    const int n = std::snprintf(
        text, sizeof text,
        "varkel-sim: frames put on the wire: %llu\n"
        "varkel-sim: frames dropped at a full FIFO: %llu\n"
        "varkel-sim: sends that gave up: %llu\n"
        "varkel-sim: frames left in the transmit FIFO: %llu\n"
        "varkel-sim: frames received: %llu (dropped at a full receive FIFO: %llu)\n"
        "varkel-sim: register accesses: %llu (no device: %llu, no register: %llu, outside any window: %llu)\n"
        "varkel-sim: duration: %llu.%09llu s simulated, %llu.%03llu s real%s\n",
        static_cast<unsigned long long>(s.framesOnWire), static_cast<unsigned long long>(s.framesDropped),
        static_cast<unsigned long long>(s.sendsGaveUp), static_cast<unsigned long long>(s.framesLeftInFifo),
        static_cast<unsigned long long>(s.framesReceived), static_cast<unsigned long long>(s.receiveDropped),
        static_cast<unsigned long long>(s.registerAccesses),
        static_cast<unsigned long long>(s.noDeviceAccesses),
        static_cast<unsigned long long>(s.unknownRegisterAccesses),
        static_cast<unsigned long long>(s.strayAccesses),
        static_cast<unsigned long long>(s.simulatedNs / 1000000000u),
        static_cast<unsigned long long>(s.simulatedNs % 1000000000u),
        static_cast<unsigned long long>(s.realNs / 1000000000u),
        static_cast<unsigned long long>(s.realNs % 1000000000u / 1000000u),
        s.interrupted ? " (interrupted)" : "");
    return std::string(text, static_cast<std::size_t>(n));
}

std::string SummaryJson(const Summary& s) {
    std::ostringstream json;
    json << "{\n"
         << "  \"exit_status\": " << s.exitStatus << ",\n"
         << "  \"interrupted\": " << (s.interrupted ? "true" : "false") << ",\n"
         << "  \"frames_on_wire\": " << s.framesOnWire << ",\n"
         << "  \"frames_dropped\": " << s.framesDropped << ",\n"
         << "  \"sends_gave_up\": " << s.sendsGaveUp << ",\n"
         << "  \"frames_left_in_fifo\": " << s.framesLeftInFifo << ",\n"
         << "  \"frames_received\": " << s.framesReceived << ",\n"
         << "  \"receive_dropped\": " << s.receiveDropped << ",\n"
         << "  \"register_accesses\": " << s.registerAccesses << ",\n"
         << "  \"no_device_accesses\": " << s.noDeviceAccesses << ",\n"
         << "  \"unknown_register_accesses\": " << s.unknownRegisterAccesses << ",\n"
         << "  \"stray_accesses\": " << s.strayAccesses << ",\n"
         << "  \"simulated_ns\": " << s.simulatedNs << ",\n"
         << "  \"real_ns\": " << s.realNs << "\n"
         << "}\n";
    return json.str();
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const volatile int* stop) {
    std::string error;
    std::optional<Options> parsed = ParseOptions(args, error);
    if (!parsed) {
        err << "varkel-sim: " << error << '\n';
        return kExitUsage;
    }
    if (parsed->help) {
        out << kUsage;
        return 0;
    }
    if (parsed->version) {
        out << "varkel-sim " << VARKEL_VERSION << '\n';
        return 0;
    }

    Session s;
    s.options = *parsed;
    s.err = &err;
    const Options& o = s.options;
    const std::pair<sim::OutputFile*, const std::string*> files[] = {{&s.wire, &o.wirePath},
                                                                     {&s.vcd, &o.vcdPath},
                                                                     {&s.trace, &o.tracePath},
                                                                     {&s.debugLog, &o.debugLogPath}};
    for (const auto& [file, path] : files) {
        for (const auto& [other, otherPath] : files) {
            if (other != file && !path->empty() && *path == *otherPath) {
                err << "varkel-sim: " << *path << " is given for two outputs\n";
                return kExitUsage;
            }
        }
        if (!path->empty() && !file->Open(*path, error)) {
            err << "varkel-sim: " << error << '\n';
            return kExitUsage;  // the files opened so far are removed with s
        }
    }
    if (!o.summaryJsonPath.empty()) {
        sim::OutputFile probe;  // fail now, not after a run of hours
        if (!probe.Open(o.summaryJsonPath, error)) {
            err << "varkel-sim: " << error << '\n';
            return kExitUsage;
        }
    }

    s.board = std::make_unique<sim::Board>(o.board);
    s.board->note = [&err](const std::string& line) {
        platform::FlushChannels();  // after the program's own text so far
        err << "varkel-sim: " << line << '\n';
    };
    if (s.wire.isOpen()) {
        s.wireLog = std::make_unique<sim::WireLog>(s.wire);
        s.board->AddListener(s.wireLog.get());
    }
    if (s.vcd.isOpen()) {
        s.vcdWriter = std::make_unique<sim::VcdWriter>(s.vcd, o.board.loopback);
        s.board->AddListener(s.vcdWriter.get());
    }
    if (s.trace.isOpen()) {
        s.traceLog = std::make_unique<sim::TraceLog>(s.trace);
        s.board->AddListener(s.traceLog.get(), true);
    }

    host::Reset();
    host::Attach(s.board.get());
    host::SetFaults(host::Faults{o.refuseReserve, o.refuseBind});
    if (s.debugLog.isOpen()) {
        platform::SetChannelFd(platform::Channel::Debug, s.debugLog.fd());
    }
    SspSendGiveUps = 0;
    s.realStartNs = sim::MonotonicNs();

    g_session = &s;
    s.board->stopFlag = stop;
    s.board->onStop = [] {
        std::exit(Finish(*g_session, kExitInterrupted, true) == kExitUsage ? kExitUsage : kExitInterrupted);
    };

    const int status = PortTestMain(nullptr, nullptr, nullptr, 0);
    const int result = Finish(s, status, false);
    g_session = nullptr;
    host::Attach(nullptr);
    return result;
}

}  // namespace runner

int runner::Main(int argc, char** argv) {
    // No SA_RESTART: a sleep in real time must wake up to see the request.
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return Run(args, std::cout, std::cerr, &g_stop);
}
