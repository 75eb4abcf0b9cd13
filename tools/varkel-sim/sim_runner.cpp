#include "tools/varkel-sim/sim_runner.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

#include "app/program_main.h"
#include "app/sequence.h"
#include "common/output_file.h"
#include "common/stop.h"
#include "common/write_all.h"
#include "platform/channels.h"
#include "platform/host/host_platform.h"
#include "sim/trace_log.h"
#include "sim/vcd_writer.h"
#include "sim/wire_log.h"
#include "tools/varkel-sim/binary/binary_run.h"
#include "tools/varkel-sim/compare.h"
#include "tools/varkel-sim/options.h"
#include "tools/varkel-sim/program_watch.h"
#include "tools/varkel-sim/summary.h"
#include "tools/varkel-sim/viewer_files.h"

namespace varkel_sim {
namespace {

extern "C" void OnStopSignal(int signal) {
    common::RequestStop(signal);
}

// Runs the program with `args`, as the board binary gets them. A run that
// must end early (a signal) ends at the program's next platform call,
// which throws; here, the one place that catches it.
void RunProgram(const std::vector<std::string>& args, Summary& summary) {
    std::vector<std::string> strings = {"varkel"};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : strings) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    try {
        summary.programStatus = ProgramMain(static_cast<int>(strings.size()), argv.data());
    } catch (const platform::host::RunStopped&) {
        summary.signal = common::StopSignal();
    }
}

// What the program has asked of its platform so far: in this process, or
// as a board binary under the emulator.
struct ProgramCounts {
    std::uint32_t pauses = 0;
    std::uint32_t reservations = 0;
    std::uint32_t bindings = 0;
    std::uint32_t deviceOpens = 0;  // the kernel's /dev/mem, by any name; only a binary has one
};

ProgramCounts Counts(const binary::BinaryRun* binaryRun) {
    if (binaryRun != nullptr) {
        return {binaryRun->pauses(), binaryRun->reservations(), binaryRun->bindings(),
                binaryRun->deviceOpens()};
    }
    return {platform::host::Pauses(), platform::host::ReserveRequests(), platform::host::BindRequests()};
}

// Runs the board binary in place of the program built in; false when the
// run ended at what the board cannot perform exactly, or broke.
bool RunBinary(binary::BinaryRun& binaryRun, sim::Board& board, const Options& o,
               const std::function<void()>& onCall,
               const std::function<void(const std::string&)>& onPlatformCall, Summary& summary) {
    const binary::BinaryOutcome outcome =
        binaryRun.Run(board, o.faults, o.programArgs, onCall, onPlatformCall);
    summary.binaryPath = o.binaryPath;
    summary.binarySha256 = binaryRun.sha256();
    if (common::StopRequested()) {
        summary.signal = common::StopSignal();
    } else if (!outcome.refused.empty() || !outcome.failed.empty()) {
        summary.abandoned = outcome.refused.empty() ? outcome.failed : outcome.refused;
        summary.notRun = outcome.refused.empty();
        return false;
    } else if (outcome.exited) {
        summary.programStatus = outcome.status;
    } else {  // as a shell reports a program a signal ended
        summary.programKilledBy = outcome.killedBy;
        summary.programStatus = 128 + outcome.killedBy;
    }
    return true;
}

// With nothing of the program's on the terminal, one line that says how
// far the run has got: the program pauses once after each message, so its
// pauses count the messages sent. In real time at each pause, with the
// time left; in virtual time once the run has taken a second, a few times
// a second (a stuck port under --binary runs for minutes).
class Progress : public sim::BoardListener {
  public:
    Progress(const binary::BinaryRun* binaryRun, bool virtualTime)
        : binaryRun_(binaryRun), virtual_(virtualTime), startNs_(sim::MonotonicNs()) {}
    void OnIdle() override { Show(true); }
    void OnPause() override {
        if (!virtual_) {
            return;
        }
        const std::uint64_t now = sim::MonotonicNs();
        if (now - startNs_ < kQuietNs || now - shownNs_ < kEveryNs) {
            return;
        }
        shownNs_ = now;
        Show(false);
    }
    void OnFinish(std::uint64_t /*ns*/) override {
        if (shown_) {
            common::WriteAll(STDERR_FILENO, "\n");
        }
    }

  private:
    static constexpr std::uint64_t kQuietNs = 1000000000, kEveryNs = 200000000;

    void Show(bool withTimeLeft) {
        const std::uint32_t sent = std::min(Counts(binaryRun_).pauses, kMessageCount);
        if (sent == 0) {
            return;
        }
        const std::uint64_t left = (kMessageCount - sent) * kMessageIntervalMs / 1000;
        char line[96];
        const int n = withTimeLeft
                          ? std::snprintf(line, sizeof line,
                                          "\rvarkel-sim: message %u of %u sent, %llu:%02llu:%02llu left ",
                                          sent, kMessageCount, static_cast<unsigned long long>(left / 3600),
                                          static_cast<unsigned long long>(left / 60 % 60),
                                          static_cast<unsigned long long>(left % 60))
                          : std::snprintf(line, sizeof line, "\rvarkel-sim: message %u of %u sent ", sent,
                                          kMessageCount);
        common::WriteAll(STDERR_FILENO, {line, static_cast<std::size_t>(n)});
        shown_ = true;
    }

    const binary::BinaryRun* binaryRun_;
    const bool virtual_;
    const std::uint64_t startNs_;
    std::uint64_t shownNs_ = 0;
    bool shown_ = false;
};

// The faults asked for that the run never reached, each with why: a
// reservation or binding the program never asked for, a message it never
// began.
std::vector<std::string> UnfiredFaults(const Options& o, const ProgramCounts& counts) {
    std::vector<std::string> unfired;
    struct Requests {
        const char* fault;
        const std::vector<std::uint32_t>& refused;
        std::uint32_t made;
        const char* what;  // one of them
    };
    for (const Requests& r : {Requests{"reserve", o.faults.refuseReserve, counts.reservations, "reservation"},
                              Requests{"bind", o.faults.refuseBind, counts.bindings, "binding"}}) {
        for (const std::uint32_t n : r.refused) {
            if (n > r.made) {
                unfired.push_back(std::string(r.fault) + ":" + std::to_string(n) +
                                  " never fired: the program made " + std::to_string(r.made) + " " + r.what +
                                  (r.made == 1 ? "" : "s"));
            }
        }
    }
    if ((o.faults.deviceMissing || o.faults.deviceRefused) && counts.deviceOpens == 0) {
        unfired.push_back(std::string(o.faults.deviceMissing ? "devmem-missing" : "devmem-refused") +
                          " never fired: the program never opened /dev/mem");
    }
    if (o.faults.mapsRefused && counts.bindings == 0) {
        unfired.push_back("devmem-strict never fired: the program never mapped /dev/mem");
    }
    for (const std::uint32_t n : o.faults.txStuckMessages) {
        if (n > counts.pauses + 1) {
            unfired.push_back("tx-stuck:" + std::to_string(n) + " never fired: the program paused " +
                              std::to_string(counts.pauses) + " times, so never reached its message " +
                              std::to_string(n));
        }
    }
    return unfired;
}

bool OnTerminal(int fd) {
    return fd >= 0 && ::isatty(fd) != 0;
}

struct Outputs {
    common::OutputFile wire, vcd, gtkw, trace, debugLog, consoleLog, json;
};

// Checks and creates every output, before the program runs.
bool OpenOutputs(const Options& o, Outputs& f, std::string& error) {
    std::vector<std::pair<common::OutputFile*, std::string>> outputs = {{&f.wire, o.wirePath},
                                                                        {&f.vcd, o.vcdPath},
                                                                        {&f.trace, o.tracePath},
                                                                        {&f.debugLog, o.debugLogPath},
                                                                        {&f.consoleLog, o.consoleLogPath},
                                                                        {&f.json, o.summaryJsonPath},
                                                                        {&f.gtkw, ""}};
    std::vector<std::pair<std::string, int>> claimed = {
        {"standard error, where varkel-sim reports", STDERR_FILENO}};
    if (!o.quiet && o.consoleLogPath.empty()) {
        claimed.push_back({"standard output, where the program's console goes (add --quiet or --console-log)",
                           STDOUT_FILENO});
    }
    if (!common::PlanOutputs(outputs, claimed, error)) {
        return false;
    }
    if (f.vcd.planned() && !f.vcd.isSpecial()) {  // a save file beside a regular dump only
        outputs.back().second = GtkwavePath(o.vcdPath);
        if (!common::PlanOutputs(outputs, claimed, error)) {
            return false;
        }
    }
    for (auto& [file, path] : outputs) {
        if (!path.empty() && !file->Open(error)) {
            return false;  // whatever was created so far is removed with `f`
        }
    }
    return true;
}

// The board's views for the outputs asked for, and in real time with
// nothing of the program's on the terminal, a progress line.
std::vector<std::unique_ptr<sim::BoardListener>> MakeViews(const Options& o, Outputs& f, int debugFd,
                                                           int consoleFd, const binary::BinaryRun* binaryRun,
                                                           FirstBurst*& burst, sim::TraceLog*& trace) {
    std::vector<std::unique_ptr<sim::BoardListener>> views;
    if (f.wire.isOpen()) {
        views.push_back(std::make_unique<sim::WireLog>(f.wire));
    }
    if (f.vcd.isOpen()) {
        const sim::VcdWriter::Window window =
            o.hasVcdWindow ? sim::VcdWriter::Window{o.vcdStartNs, o.vcdEndNs} : sim::VcdWriter::Window{};
        views.push_back(std::make_unique<sim::VcdWriter>(f.vcd, o.rxd, window));
        auto first = std::make_unique<FirstBurst>(window.startNs, window.endNs);
        burst = first.get();
        views.push_back(std::move(first));
    }
    if (f.trace.isOpen()) {
        auto log = std::make_unique<sim::TraceLog>(f.trace);
        trace = log.get();
        views.push_back(std::move(log));
    }
    if (OnTerminal(STDERR_FILENO) && !OnTerminal(debugFd) && !OnTerminal(consoleFd)) {
        views.push_back(std::make_unique<Progress>(binaryRun, o.time == sim::TimeMode::Virtual));
    }
    return views;
}

// Completes every output, or removes it when a write failed; says why on
// `err` and returns how many failed. A pipe whose reader left is the stop
// itself, not a further failure.
int CompleteOutputs(Outputs& f, const FirstBurst* burst, int signal, std::ostream& err) {
    int failed = 0;
    for (const auto& [channel, file, name] :
         {std::tuple{platform::Channel::Debug, &f.debugLog, "standard error"},
          std::tuple{platform::Channel::Console, &f.consoleLog, "standard output"}}) {
        const int channelError = platform::ChannelError(channel);
        if (channelError == 0 || (channelError == EPIPE && signal == SIGPIPE)) {
            continue;
        }
        if (file->isOpen()) {
            file->Fail(channelError);
        } else {
            ++failed;
            err << "varkel-sim: cannot write " << name << ": " << std::strerror(channelError) << '\n';
        }
    }
    std::string error;
    bool vcdWritten = false;
    for (common::OutputFile* file : {&f.wire, &f.vcd, &f.gtkw, &f.trace, &f.debugLog, &f.consoleLog}) {
        if (file == &f.gtkw && file->isOpen()) {  // a save file only beside the dump it opens
            if (!vcdWritten) {
                file->Discard();
                continue;
            }
            file->Write(GtkwaveSaveFile(f.vcd.target(), burst->frames()));
        }
        if (!file->Commit(error)) {
            ++failed;
            err << "varkel-sim: " << error << '\n';
        } else if (file == &f.vcd) {
            vcdWritten = true;
        }
    }
    return failed;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    common::ClearStop();
    std::string error;
    const std::optional<Options> parsed = ParseOptions(args, error);
    if (!parsed) {
        err << "varkel-sim: " << error << std::endl;
        return kExitUsage;
    }
    const Options& o = *parsed;
    if (o.help || o.version) {
        out << (o.help ? kUsage : "varkel-sim " VARKEL_VERSION "\n") << std::flush;
        return out.good() ? 0 : kExitUsage;
    }
    if (o.compare) {
        return RunCompare(o, args, err);
    }

    std::unique_ptr<binary::BinaryRun> binaryRun;
    if (!o.binaryPath.empty()) {  // checked, as the outputs are, before anything is written
        binaryRun = std::make_unique<binary::BinaryRun>();
        if (!binaryRun->Prepare(o.binaryPath, error)) {
            err << "varkel-sim: " << error << std::endl;
            return kExitUsage;
        }
    }
    Outputs f;
    if (!OpenOutputs(o, f, error)) {  // a wait for a FIFO's reader ends on a signal
        err << "varkel-sim: " << error << std::endl;
        return common::StopRequested() ? 128 + common::StopSignal() : kExitUsage;
    }
    const int debugFd = f.debugLog.isOpen() ? f.debugLog.fd() : o.quiet ? -1 : STDERR_FILENO;
    const int consoleFd = f.consoleLog.isOpen() ? f.consoleLog.fd() : o.quiet ? -1 : STDOUT_FILENO;

    auto board = std::make_unique<sim::Board>(sim::BoardOptions{o.time, o.rxd, o.faults.board});
    board->onNote = [&err](const std::string& line) {
        platform::FlushChannels();  // after the program's own text so far
        err << "varkel-sim: " << line << std::endl;
    };
    FirstBurst* burst = nullptr;
    sim::TraceLog* trace = nullptr;
    const auto views = MakeViews(o, f, debugFd, consoleFd, binaryRun.get(), burst, trace);
    for (const auto& view : views) {
        board->AddListener(view.get());
    }
    GiveUpWatch giveUps;
    board->AddListener(&giveUps);
    platform::host::Reset();
    platform::host::Attach(board.get());
    const std::function<void()> onCall = [&] {  // the program stepped out of its accesses
        if (trace != nullptr) {
            trace->EndFold();
        }
        giveUps.OnProgramCall();
    };
    const std::function<void(const std::string&)> onPlatformCall = [&](const std::string& what) {
        if (trace != nullptr) {
            trace->OnCall(board->Now(), what);
        }
    };
    PlatformWitness witness;
    platform::host::AddCallObserver([&](const platform::host::CallRecord& call) {
        onCall();
        using platform::host::Call;
        if (call.call == Call::Reserve) {
            onPlatformCall(witness.Reserved(call.args[1], static_cast<std::uint64_t>(call.result)));
        } else if (call.call == Call::Bind) {
            onPlatformCall(witness.Bound(call.args[0], call.args[1] << 8, call.args[2], call.result != 0));
        } else if (call.call == Call::Release) {
            onPlatformCall(witness.Released(call.args[0], call.result != 0));
        }
    });
    platform::host::SetFaults(o.faults);
    platform::SetChannelFd(platform::Channel::Debug, debugFd);
    platform::SetChannelFd(platform::Channel::Console, consoleFd);
    const std::uint64_t realStartNs = sim::MonotonicNs();

    Summary summary;
    bool ended = true;
    if (binaryRun != nullptr) {
        ended = RunBinary(*binaryRun, *board, o, onCall, onPlatformCall, summary);
    } else {
        RunProgram(o.programArgs, summary);
    }
    if (!ended) {
        platform::FlushChannels();  // the program's text first, then why its run ended
        err << "varkel-sim: " << summary.abandoned << '\n';
    }
    if (summary.signal == 0 && summary.abandoned.empty()) {
        summary.unfired = UnfiredFaults(o, Counts(binaryRun.get()));
    }
    board->Finish();
    platform::FlushChannels();
    summary.figures = CollectFigures(*board, giveUps, sim::MonotonicNs() - realStartNs);
    summary.failedOutputs = CompleteOutputs(f, burst, summary.signal, err);
    platform::host::Reset();
    common::ClearStop();  // the outputs are complete; what stopped the run is in the summary

    summary.reasons = FailReasons(summary);
    summary.exitStatus = summary.failedOutputs != 0 || !summary.abandoned.empty() ? kExitUsage
                         : summary.signal != 0                                    ? 128 + summary.signal
                         : o.strict && !summary.reasons.empty()                   ? kExitStrictFail
                                                                                  : summary.programStatus;
    if (f.json.isOpen()) {
        f.json.Write(SummaryJson(summary, o));
        if (!f.json.Commit(error)) {
            err << "varkel-sim: " << error << '\n';
            ++summary.failedOutputs;
            summary.reasons = FailReasons(summary);
            summary.exitStatus = kExitUsage;
        }
    }
    err << SummaryText(summary) << std::flush;
    // Without its summary a run has told nobody its verdict: that is the
    // tool's failure, whatever the program's status, unless a signal
    // already says the run did not finish.
    return err.good() || summary.signal != 0 ? summary.exitStatus : kExitUsage;
}

int Main(int argc, char** argv) {
    common::OpenClosedStandardDescriptors();
    // No SA_RESTART: a sleep or a blocked write must wake up to see the stop.
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        sigaction(signal, &action, nullptr);
    }
    // A file-size limit is a write error, said and failed as a full disk
    // is, not a silent death that leaves working files behind.
    std::signal(SIGXFSZ, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return Run(args, std::cout, std::cerr);
}

}  // namespace varkel_sim
