#include "tools/varkel-sim/summary.h"

#include <cstring>
#include <sstream>

#include "app/exit_status.h"
#include "common/escape.h"
#include "common/json.h"

namespace varkel_sim {

namespace {

std::string Count(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string SignalName(int signal) {
    const char* abbreviation = sigabbrev_np(signal);
    return abbreviation != nullptr ? std::string("SIG") + abbreviation : "signal " + std::to_string(signal);
}

namespace {

struct Sources {
    const sim::Board& board;
    const sim::BoardStats& b;
    const sim::SspStats& p;
    const GiveUpWatch& program;
    std::uint64_t realNs;
};

// Each figure's name, words and source, in one row.
struct FigureName {
    Fig id;
    const char* key;
    const char* label;
    std::uint64_t (*value)(const Sources&);
    bool nanoseconds = false;
};

constexpr FigureName kFigureNames[] = {
    {Fig::FramesOnWire, "frames_on_wire", "frames put on the wire",
     [](const Sources& s) -> std::uint64_t { return s.b.framesOnWire; }},
    {Fig::FramesUnrouted, "frames_unrouted", "frames shifted with the transmit pin unrouted",
     [](const Sources& s) -> std::uint64_t { return s.b.framesUnrouted; }},
    {Fig::FramesCut, "frames_cut", "frames cut short by the clock gate or the enable bit",
     [](const Sources& s) -> std::uint64_t { return s.b.framesCut; }},
    {Fig::FramesDropped, "frames_dropped", "frames lost to a full transmit FIFO",
     [](const Sources& s) -> std::uint64_t { return s.p.txDropped; }},
    {Fig::FramesLeftInFifo, "frames_left_in_fifo", "frames left in the transmit FIFO",
     [](const Sources& s) -> std::uint64_t { return s.board.framesQueued(); }},
    {Fig::SendsGaveUp, "sends_gave_up", "sends that gave up waiting for transmit room",
     [](const Sources& s) -> std::uint64_t { return s.program.sendsGaveUp(); }},
    {Fig::FramesReceived, "frames_received", "frames received",
     [](const Sources& s) -> std::uint64_t { return s.p.framesReceived; }},
    {Fig::ReceiveDropped, "receive_dropped", "frames lost to a full receive FIFO (overrun)",
     [](const Sources& s) -> std::uint64_t { return s.p.rxDropped; }},
    {Fig::UnmodelledSettings, "unmodelled_settings", "writes of port settings the board does not model",
     [](const Sources& s) -> std::uint64_t { return s.p.unmodelledSettings; }},
    {Fig::RegisterAccesses, "register_accesses", "register accesses",
     [](const Sources& s) -> std::uint64_t { return s.b.accesses; }},
    {Fig::NoDeviceAccesses, "no_device_accesses", "register accesses where the board has no device",
     [](const Sources& s) -> std::uint64_t { return s.b.noDeviceAccesses; }},
    {Fig::UnknownRegisterAccesses, "unknown_register_accesses",
     "register accesses where the board has no register",
     [](const Sources& s) -> std::uint64_t { return s.b.unknownRegisterAccesses; }},
    {Fig::StrayAccesses, "stray_accesses", "register accesses outside any window",
     [](const Sources& s) -> std::uint64_t { return s.b.strayAccesses; }},
    {Fig::SimulatedNs, "simulated_ns", "board time",
     [](const Sources& s) -> std::uint64_t { return s.board.Now(); }, true},
    {Fig::RealNs, "real_ns", "real time", [](const Sources& s) -> std::uint64_t { return s.realNs; }, true},
};

// Summary::Value finds a figure by its place.
constexpr bool InFigOrder() {
    std::size_t i = 0;
    for (const FigureName& name : kFigureNames) {
        if (static_cast<std::size_t>(name.id) != i++) {
            return false;
        }
    }
    return i == static_cast<std::size_t>(Fig::Count);
}
static_assert(InFigOrder());

}  // namespace

std::vector<Figure> CollectFigures(const sim::Board& board, const GiveUpWatch& giveUps,
                                   std::uint64_t realNs) {
    const Sources sources{board, board.stats(), board.portStats(), giveUps, realNs};
    std::vector<Figure> figures;
    for (const FigureName& name : kFigureNames) {
        figures.push_back({name.id, name.key, name.label, name.value(sources), name.nanoseconds});
    }
    return figures;
}

std::vector<std::string> FailReasons(const Summary& s) {
    std::vector<std::string> reasons;
    if (!s.abandoned.empty()) {
        reasons.push_back(
            s.notRun ? "the binary could not be run (said above)"
                     : "the run ended at what the simulated board cannot perform exactly (said above)");
    } else if (s.signal != 0) {
        reasons.push_back("stopped by " + SignalName(s.signal) + " before the run ended");
    } else if (s.programKilledBy != 0) {
        reasons.push_back("the program was killed by " + SignalName(s.programKilledBy));
    } else if (s.programStatus != kExitOk) {
        const std::string status = "exit status " + std::to_string(s.programStatus);
        reasons.push_back(
            s.programStatus == kExitUnmapped
                ? "the program stopped early (" + status + ": a register block could not be mapped)"
            : s.programStatus == kExitUsage          ? "the program refused its arguments (" + status + ")"
            : s.programStatus == kExitLoopbackFailed ? "the loopback test failed (" + status + ")"
            : s.programStatus == kExitUnwritten
                ? "the program could not write its help or version (" + status + ")"
                : "the program failed (" + status + ")");
    }
    for (const std::string& fault : s.unfired) {
        reasons.push_back("fault " + fault);
    }
    if (const std::uint64_t n = s.Value(Fig::SendsGaveUp)) {
        reasons.push_back(Count(n, "send", "sends") + " gave up waiting for transmit room");
    }
    if (const std::uint64_t n = s.Value(Fig::FramesDropped)) {
        reasons.push_back(Count(n, "frame", "frames") + " lost (stored into a full transmit FIFO)");
    }
    const std::uint64_t unrouted = s.Value(Fig::FramesUnrouted);
    const std::uint64_t cut = s.Value(Fig::FramesCut);
    const std::uint64_t left = s.signal == 0 && s.abandoned.empty() ? s.Value(Fig::FramesLeftInFifo) : 0;
    if (unrouted + cut + left != 0) {
        std::string parts;
        for (const auto& [n, what] :
             {std::pair{unrouted, "shifted with the transmit pin unrouted"}, std::pair{cut, "cut short"},
              std::pair{left, "left in the transmit FIFO"}}) {
            if (n != 0) {
                parts += (parts.empty() ? "" : ", ") + std::to_string(n) + " " + what;
            }
        }
        reasons.push_back(Count(unrouted + cut + left, "frame", "frames") + " never reached the wire (" +
                          parts + ")");
    }
    if (const std::uint64_t n = s.Value(Fig::NoDeviceAccesses) + s.Value(Fig::UnknownRegisterAccesses) +
                                s.Value(Fig::StrayAccesses)) {
        reasons.push_back(Count(n, "register access", "register accesses") +
                          " where the board has nothing (see the notes above)");
    }
    if (s.failedOutputs != 0) {
        reasons.push_back(Count(static_cast<std::uint64_t>(s.failedOutputs), "output", "outputs") +
                          " could not be written");
    }
    return reasons;
}

std::string SummaryText(const Summary& s) {
    std::string text;
    if (!s.binaryPath.empty()) {
        text += "varkel-sim: binary: " + common::Escaped(s.binaryPath, common::kShownPath) + " (sha256 " +
                s.binarySha256 + ")\n";
    }
    char value[64];
    for (const Figure& figure : s.figures) {
        if (figure.nanoseconds) {
            std::snprintf(value, sizeof value, "%llu.%09llu s",
                          static_cast<unsigned long long>(figure.value / 1000000000u),
                          static_cast<unsigned long long>(figure.value % 1000000000u));
        } else {
            std::snprintf(value, sizeof value, "%llu", static_cast<unsigned long long>(figure.value));
        }
        text += std::string("varkel-sim: ") + figure.label + ": " + value + "\n";
    }
    if (s.signal != 0) {
        text += "varkel-sim: interrupted by " + SignalName(s.signal) + "\n";
    }
    if (s.reasons.empty()) {
        return text + "varkel-sim: PASS\n";
    }
    text += "varkel-sim: FAIL: ";
    for (std::size_t i = 0; i < s.reasons.size(); ++i) {
        text += (i == 0 ? "" : "; ") + s.reasons[i];
    }
    return text + "\n";
}

std::string SummaryJson(const Summary& s, const Options& o) {
    std::ostringstream json;
    json << "{\n"
         << "  \"schema_version\": 1,\n"
         << "  \"tool\": \"varkel-sim\",\n"
         << "  \"version\": " << common::JsonString(VARKEL_VERSION) << ",\n"
         << "  \"options\": {\"time\": \"" << (o.time == sim::TimeMode::Real ? "real" : "virtual")
         << "\", \"rxd\": \"" << RxdName(o.rxd) << "\", \"faults\": [";
    for (std::size_t i = 0; i < o.faults.given.size(); ++i) {
        json << (i == 0 ? "" : ", ") << common::JsonString(o.faults.given[i]);
    }
    json << "], \"program_arguments\": [";
    for (std::size_t i = 0; i < o.programArgs.size(); ++i) {
        json << (i == 0 ? "" : ", ") << common::JsonString(o.programArgs[i]);
    }
    json << "], \"vcd_window_ns\": ";
    if (o.hasVcdWindow) {
        json << "[" << o.vcdStartNs << ", " << o.vcdEndNs << "]";
    } else {
        json << "null";
    }
    json << ", \"strict\": " << (o.strict ? "true" : "false") << "},\n"
         << "  \"binary\": ";
    if (s.binaryPath.empty()) {
        json << "null";
    } else {
        json << "{\"path\": " << common::JsonString(s.binaryPath) << ", \"sha256\": \"" << s.binarySha256
             << "\"}";
    }
    json << ",\n"
         << "  \"exit_status\": " << s.exitStatus << ",\n"
         << "  \"program_exit_status\": ";
    if (s.signal == 0 && s.abandoned.empty() && s.programKilledBy == 0) {
        json << s.programStatus;
    } else {
        json << "null";
    }
    json << ",\n  \"program_killed_by\": ";
    if (s.programKilledBy != 0) {
        json << common::JsonString(SignalName(s.programKilledBy));
    } else {
        json << "null";
    }
    json << ",\n  \"interrupted\": " << (s.signal != 0 ? "true" : "false") << ",\n  \"abandoned\": ";
    if (s.abandoned.empty()) {
        json << "null";
    } else {
        json << common::JsonString(s.abandoned);
    }
    json << ",\n  \"signal\": ";
    if (s.signal != 0) {
        json << common::JsonString(SignalName(s.signal));
    } else {
        json << "null";
    }
    json << ",\n";
    for (const Figure& figure : s.figures) {
        json << "  \"" << figure.key << "\": " << figure.value << ",\n";
    }
    json << "  \"verdict\": \"" << (s.reasons.empty() ? "PASS" : "FAIL") << "\",\n  \"reasons\": [";
    for (std::size_t i = 0; i < s.reasons.size(); ++i) {
        json << (i == 0 ? "\n    " : ",\n    ") << common::JsonString(s.reasons[i]);
    }
    json << (s.reasons.empty() ? "]\n" : "\n  ]\n") << "}\n";
    return json.str();
}

}  // namespace varkel_sim
