// The simulated bus against plain memory, and whole runs in virtual time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "hw/map_physical.h"
#include "hw/physical_map.h"
#include "hw/poll.h"
#include "hw/reg_io.h"
#include "platform/host/host_platform.h"
#include "platform/text_output.h"
#include "sim/board.h"
#include "ssp/registers.h"
#include "ssp/ssp.h"
#include "tools/varkel-sim/sim_runner.h"

namespace {

constexpr double kReadsPerGiveUp = kPollLimit + 1.0;

// The transmit wait's give-up path over a plain volatile word that never
// shows room: what the loop costs with nothing behind the load. One copy,
// not inlined, so the benchmark and the ratio's reference time the same code.
[[gnu::noinline]] bool PlainGiveUp() {
    static volatile std::uint32_t status = 0;
    return PollUntilSet([] { return status; }, ssp::kTxNotFull, kPollLimit);
}

double PlainNsPerRead() {
    const auto start = std::chrono::steady_clock::now();
    constexpr int kRounds = 50;
    for (int i = 0; i < kRounds; ++i) {
        benchmark::DoNotOptimize(PlainGiveUp());
    }
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / (kRounds * kReadsPerGiveUp);
}

void BM_GiveUpPlainMemory(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(PlainGiveUp());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kReadsPerGiveUp));
}
BENCHMARK(BM_GiveUpPlainMemory)->Unit(benchmark::kMicrosecond);

// The same wait through the driver on a board whose transmit FIFO never
// reports room; reports its cost per read as a multiple of plain memory.
void BM_GiveUpSimulatedBoard(benchmark::State& state) {
    sim::BoardOptions options;
    options.txStuck = true;
    auto board = std::make_unique<sim::Board>(options);  // on the heap, as varkel-sim has it
    host::Reset();
    host::Attach(board.get());
    std::string sink;
    platform::CaptureChannel(platform::Channel::Debug, &sink);
    SspRegPtr = MapPhysicalAddr(phys::kSspBase, phys::kSspBytes);
    const std::uint8_t byte = 0x5A;
    const double plain = PlainNsPerRead();

    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        benchmark::DoNotOptimize(SspSendBuffer(&byte, 1));
        sink.clear();
    }
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    const double reads = static_cast<double>(state.iterations()) * kReadsPerGiveUp;
    state.SetItemsProcessed(static_cast<std::int64_t>(reads));
    state.counters["ns_per_read"] = elapsed.count() / reads;
    state.counters["plain_ns_per_read"] = plain;
    state.counters["ratio_to_plain"] = elapsed.count() / reads / plain;
    host::Reset();
}
BENCHMARK(BM_GiveUpSimulatedBoard)->Unit(benchmark::kMicrosecond);

// A whole 10,000-message run in virtual time, wire log and debug channel in
// files, console discarded.
void BM_FullVirtualRun(benchmark::State& state) {
    const std::string dir = "/tmp/varkel-bench-" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0755);
    const int saved = ::dup(1);
    const int quiet = ::open("/dev/null", O_WRONLY);
    for (auto _ : state) {
        std::ostringstream out;
        std::ostringstream err;
        ::dup2(quiet, 1);
        const int status = runner::Run(
            {"--time", "virtual", "--wire", dir + "/w.txt", "--debug-log", dir + "/d.txt"}, out, err);
        ::dup2(saved, 1);
        if (status != 0) {
            state.SkipWithError("run failed");
        }
    }
    ::close(quiet);
    ::close(saved);
    std::remove((dir + "/w.txt").c_str());
    std::remove((dir + "/d.txt").c_str());
    ::rmdir(dir.c_str());
}
BENCHMARK(BM_FullVirtualRun)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
