// A whole wait that gives up on the simulated board, and whole runs in
// virtual time. Timings are measured here, never asserted in tests.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "hw/map_physical.h"
#include "platform/channels.h"
#include "platform/host/host_platform.h"
#include "sim/board.h"
#include "ssp/ssp.h"
#include "tools/varkel-sim/sim_runner.h"

namespace {

// One send on a board whose transmit FIFO never reports room: 262,144
// status reads, answered by the board in steps.
void BM_GiveUpWait(benchmark::State& state) {
    auto board = std::make_unique<sim::Board>(sim::BoardOptions{.faults = {.txStuck = true}});
    platform::host::Reset();
    platform::host::Attach(board.get());
    std::string sink;
    platform::CaptureChannel(platform::Channel::Debug, &sink);
    SspRegPtr = MapPhysicalAddr(0x41900000, 0x14);
    const std::uint8_t byte = 0x5A;
    for (auto _ : state) {
        benchmark::DoNotOptimize(SspSendBuffer(&byte, 1));
        sink.clear();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * (kPollLimit + 1));
    platform::host::Reset();
}
BENCHMARK(BM_GiveUpWait)->Unit(benchmark::kMicrosecond);

// A whole 10,000-message run in virtual time, the wire log and the debug
// channel in files, the console discarded.
void BM_FullVirtualRun(benchmark::State& state, const char* fault) {
    char dir[] = "/tmp/varkel-bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string d = dir;
    const int saved = ::dup(1);
    const int console = ::open((d + "/console.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (auto _ : state) {
        std::ostringstream out;
        std::ostringstream err;
        ::dup2(console, 1);
        std::vector<std::string> args = {"--time",     "virtual",     "--wire",
                                         d + "/w.txt", "--debug-log", d + "/d.txt"};
        if (*fault != 0) {
            args.insert(args.end(), {"--fault", fault});
        }
        const int status = varkel_sim::Run(args, out, err);
        ::dup2(saved, 1);
        ::ftruncate(console, 0);
        if (status != 0) {
            state.SkipWithError("run failed");
        }
    }
    ::close(console);
    ::close(saved);
    for (const char* name : {"/w.txt", "/d.txt", "/console.txt"}) {
        std::remove((d + name).c_str());
    }
    ::rmdir(dir);
}
BENCHMARK_CAPTURE(BM_FullVirtualRun, plain, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FullVirtualRun, tx_stuck, "tx-stuck")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FullVirtualRun, clock_off, "clock-off")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
