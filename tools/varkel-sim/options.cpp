#include "tools/varkel-sim/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "app/sequence.h"
#include "common/escape.h"
#include "common/options.h"

namespace varkel_sim {

const char* const kUsage =
    "Usage: varkel-sim [options] [-- PROGRAM-ARGUMENTS]\n"
    "Runs the Varkel serial-port test program on a simulated board and shows its wire.\n"
    "\n"
    "  --binary FILE         run FILE, a board binary (static 32-bit ARM Linux, as built for\n"
    "                        the board), unmodified under qemu-arm, its /dev/mem windows\n"
    "                        answered by the simulated board (x86-64 hosts)\n"
    "  --time real|virtual   real: one message a second, as on the board (default);\n"
    "                        virtual: sleeps take no time, a full run in well under a second\n"
    "  --wire FILE           every frame that reached the transmit pin: \"<seconds> 0x<value>\"\n"
    "  --vcd FILE            the port's pins as a value change dump (sclk, sfrm, txd, rxd),\n"
    "                        and a GTKWave save file beside it (FILE with .gtkw) that opens on\n"
    "                        the first message\n"
    "  --vcd-window S:E      dump only board time S to E seconds (for example 0:2.5)\n"
    "  --trace FILE          every register access, with its physical address; a wait's\n"
    "                        identical reads folded with a count\n"
    "  --debug-log FILE      the program's debug channel (default: stderr)\n"
    "  --console-log FILE    the program's console (default: stdout)\n"
    "  --quiet               keep the program's debug and console text off the terminal\n"
    "  --summary-json FILE   the end-of-run summary and verdict as JSON\n"
    "  --rxd high|low|loopback\n"
    "                        what the receive pin carries: a steady level (default high,\n"
    "                        as an unconnected pin reads) or the transmit pin\n"
    "  --loopback            short for --rxd loopback\n"
    "  --fault SPEC          a board fault; may be repeated (a fault that never fires\n"
    "                        fails the run, naming it):\n"
    "                          reserve:N      refuse the Nth address-space reservation (1-3)\n"
    "                          bind:N         refuse the Nth physical binding (1-3)\n"
    "                          tx-stuck       the transmit FIFO never reports room\n"
    "                          tx-stuck:N     ... during message N only: from the program's\n"
    "                                         pause N-1 to its pause N (repeatable)\n"
    "                          clock-off      the port's clock gate stays closed\n"
    "                          tx-slow:K      the port shifts K times slower than programmed\n"
    "                          pins-unrouted  the GPIO alternate-function register ignores writes\n"
    "                        and, for --binary, its kernel's refusals:\n"
    "                          devmem-missing there is no /dev/mem\n"
    "                          devmem-refused /dev/mem cannot be opened (not root)\n"
    "                          devmem-strict  every /dev/mem mapping is refused, as a strict\n"
    "                                         kernel refuses a block a driver keeps\n"
    "  --compare             with --binary: run FILE and the program built in with the\n"
    "                        same options in virtual time, and say whether every output is\n"
    "                        identical (exit 0) or which differs first, where (exit 1)\n"
    "  --strict              exit 3 when the verdict is FAIL\n"
    "  --help                this text\n"
    "  --version             the version\n"
    "  -- ARGUMENTS          the rest goes to the program, as the board binary gets it:\n"
    "                        -- --loopback-test 3 runs its loopback self-test\n"
    "\n"
    "FILE may be \"-\" for standard output, or a character device or FIFO, written to\n"
    "directly (a socket is refused). A regular file is written as FILE.part and renamed\n"
    "when the run ends, also when a signal (INT, TERM, HUP, PIPE) stops it; a FILE.part\n"
    "left by a run that did not finish is removed, with a note. The summary ends with a verdict,\n"
    "\"varkel-sim: PASS\" or \"varkel-sim: FAIL: <reasons>\".\n"
    "Exit status: the program's (0 full run or loopback PASS, 1 a register block could\n"
    "not be mapped, 2 an argument it does not take, 4 loopback FAIL, 5 its help or\n"
    "version not written);\n"
    "2 for a bad option, an output that cannot be written, or an access the simulated\n"
    "board cannot perform exactly (named); 3 for FAIL with --strict; 128 + the signal's\n"
    "number when a signal stopped the run or, with --binary, killed the program.\n";

namespace {

bool ParseCount(const std::string& text, std::uint32_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc{} && ptr == end && value > 0;
}

bool ParseSeconds(const std::string& text, std::uint64_t& ns) {
    double seconds = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, seconds);
    if (ec != std::errc{} || ptr != end || !(seconds >= 0) || seconds > 1e9) {
        return false;
    }
    ns = static_cast<std::uint64_t>(std::llround(seconds * 1e9));
    return true;
}

// A fault given twice is refused rather than quietly applied once, and so
// are two that contradict each other; two stalls in different messages
// are both applied.
bool ParseFault(const std::string& spec, Options& options, std::string& error) {
    const std::string shown = common::Escaped(spec, 64);
    for (const std::string& given : options.faults.given) {
        const std::string kind = given.substr(0, given.find(':'));
        const std::string name = spec.substr(0, spec.find(':'));
        if (given == spec) {
            error = "fault '" + shown + "' is given twice";
            return false;
        }
        const bool kernels = name.rfind("devmem-", 0) == 0 && kind.rfind("devmem-", 0) == 0;
        if (kernels || (name == "tx-slow" && kind == "tx-slow") ||
            (name == "tx-stuck" && kind == "tx-stuck" && (given == "tx-stuck" || spec == "tx-stuck"))) {
            error = "faults '" + common::Escaped(given, 64) + "' and '" + shown + "' contradict each other";
            return false;
        }
    }
    const std::size_t colon = spec.find(':');
    const std::string name = spec.substr(0, colon);
    const bool hasArg = colon != std::string::npos;
    const std::string arg = hasArg ? spec.substr(colon + 1) : "";
    std::uint32_t n = 0;
    if (name == "reserve" || name == "bind" || name == "tx-slow") {
        if (!hasArg || !ParseCount(arg, n)) {
            error = "fault '" + shown + "' needs a count from 1, as in " + name + ":2";
            return false;
        }
        const std::uint32_t made = name == "reserve" ? kProgramReservations : kProgramBindings;
        if (name == "tx-slow") {
            options.faults.board.txSlow = n;
        } else if (n > made) {
            error = "fault '" + shown + "' would never fire: the program makes " + std::to_string(made) +
                    (name == "reserve" ? " reservations" : " bindings");
            return false;
        } else {
            (name == "reserve" ? options.faults.refuseReserve : options.faults.refuseBind).push_back(n);
        }
    } else if (name == "tx-stuck" && !hasArg) {
        options.faults.board.txStuck = true;
    } else if (name == "tx-stuck") {
        if (!ParseCount(arg, n) || n > kMessageCount) {
            error = "fault '" + shown + "' needs a message from 1 to " + std::to_string(kMessageCount) +
                    ", as in tx-stuck:2";
            return false;
        }
        options.faults.txStuckMessages.push_back(n);
    } else if (name == "clock-off" && !hasArg) {
        options.faults.board.clockOff = true;
    } else if (name == "pins-unrouted" && !hasArg) {
        options.faults.board.pinsUnrouted = true;
    } else if (name == "devmem-missing" && !hasArg) {
        options.faults.deviceMissing = true;
    } else if (name == "devmem-refused" && !hasArg) {
        options.faults.deviceRefused = true;
    } else if (name == "devmem-strict" && !hasArg) {
        options.faults.mapsRefused = true;
    } else {
        error = "unknown fault '" + shown +
                "' (reserve:N, bind:N, tx-stuck, tx-stuck:N, clock-off, tx-slow:K, pins-unrouted, "
                "devmem-missing, "
                "devmem-refused, devmem-strict)";
        return false;
    }
    options.faults.given.push_back(spec);
    return true;
}

}  // namespace

const char* RxdName(sim::RxdLine line) {
    return line == sim::RxdLine::High ? "high" : line == sim::RxdLine::Low ? "low" : "loopback";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    Options options;
    const std::pair<const char*, std::string Options::*> paths[] = {
        {"wire", &Options::wirePath},
        {"vcd", &Options::vcdPath},
        {"trace", &Options::tracePath},
        {"debug-log", &Options::debugLogPath},
        {"console-log", &Options::consoleLogPath},
        {"summary-json", &Options::summaryJsonPath}};
    std::vector<common::OptionSpec> specs = {
        {"help", 'h', false},   {"version", 0, false}, {"quiet", 0, false},  {"strict", 0, false},
        {"loopback", 0, false}, {"time", 0, true},     {"rxd", 0, true},     {"vcd-window", 0, true},
        {"fault", 0, true},     {"binary", 0, true},   {"compare", 0, false}};
    for (const auto& [name, member] : paths) {
        specs.push_back({name, 0, true});
    }
    common::CommandLine line;
    if (!common::ParseCommandLine(args, specs, line, error)) {
        return std::nullopt;
    }
    if (!line.operands.empty()) {
        error = "unexpected argument '" + common::Escaped(line.operands.front(), common::kShownWord) +
                "' (see --help; the program's own arguments follow --)";
        return std::nullopt;
    }
    options.programArgs = line.afterSeparator;
    for (const common::GivenOption& given : line.options) {
        const std::string name = specs[given.spec].name;
        const std::string& value = given.value;
        const std::string shownValue = common::Escaped(value, common::kShownWord);
        if (name == "help" || name == "version" || name == "quiet" || name == "strict" || name == "compare") {
            (name == "help"      ? options.help
             : name == "version" ? options.version
             : name == "quiet"   ? options.quiet
             : name == "compare" ? options.compare
                                 : options.strict) = true;
        } else if (name == "loopback") {
            options.rxd = sim::RxdLine::Loopback;
        } else if (name == "time") {
            if (value != "real" && value != "virtual") {
                error = "--time takes real or virtual, not '" + shownValue + "'";
                return std::nullopt;
            }
            options.time = value == "real" ? sim::TimeMode::Real : sim::TimeMode::Virtual;
        } else if (name == "rxd") {
            if (value != "high" && value != "low" && value != "loopback") {
                error = "--rxd takes high, low or loopback, not '" + shownValue + "'";
                return std::nullopt;
            }
            options.rxd = value == "high"  ? sim::RxdLine::High
                          : value == "low" ? sim::RxdLine::Low
                                           : sim::RxdLine::Loopback;
        } else if (name == "vcd-window") {
            const std::size_t colon = value.find(':');
            if (colon == std::string::npos || !ParseSeconds(value.substr(0, colon), options.vcdStartNs) ||
                !ParseSeconds(value.substr(colon + 1), options.vcdEndNs) ||
                options.vcdEndNs <= options.vcdStartNs) {
                error = "--vcd-window takes START:END in seconds of board time, START before END, not '" +
                        shownValue + "'";
                return std::nullopt;
            }
            options.hasVcdWindow = true;
        } else if (name == "binary") {
            if (value.empty()) {
                error = "--binary needs a file";
                return std::nullopt;
            }
            options.binaryPath = value;
        } else if (name == "fault") {
            if (!ParseFault(value, options, error)) {
                return std::nullopt;
            }
        } else {
            for (const auto& [path, member] : paths) {
                if (name == path) {
                    options.*member = value;
                }
            }
        }
    }
    for (const std::string& fault : options.faults.given) {
        if (fault.rfind("devmem-", 0) == 0 && options.binaryPath.empty() && !options.compare) {
            error = "fault '" + fault +
                    "' is a kernel's, for --binary: the program built into varkel-sim has no /dev/mem";
            return std::nullopt;
        }
    }
    if (options.hasVcdWindow && options.vcdPath.empty()) {
        error = "--vcd-window needs --vcd FILE";
        return std::nullopt;
    }
    return options;
}

}  // namespace varkel_sim
