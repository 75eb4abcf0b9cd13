// varkel-check's path from samples to verdict, fed a recorded stream as a
// live acquisition would feed it: packed 1-byte samples in 64 KiB packets.
// The target is a common USB analyser's top rate, 24 M samples a second,
// on one core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "tools/varkel-check/capture/logic_stream.h"
#include "tools/varkel-check/cli/report.h"

namespace {

constexpr double kRate = 24e6;
constexpr std::size_t kPacket = 64 << 10;
constexpr unsigned char kSclk = 1, kSfrm = 2, kTxd = 4;

// One second of the board's wire at kRate: the program's message once
// (`busy`: back to back, all second long), the line idle otherwise.
std::string Second(bool busy) {
    const unsigned char message[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};
    std::string out(static_cast<std::size_t>(kRate * 1e-3), static_cast<char>(kSfrm));
    const double bit = 700e-9 * kRate;
    do {
        for (const unsigned char byte : message) {
            const std::size_t start = out.size();
            for (int i = 0; i < 8; ++i) {
                const unsigned char data = (byte >> (7 - i) & 1) != 0 ? kTxd : 0;
                out.append(
                    static_cast<std::size_t>(std::lround(static_cast<double>(start) + (i + 0.5) * bit)) -
                        out.size(),
                    static_cast<char>(data));
                out.append(static_cast<std::size_t>(std::lround(static_cast<double>(start) + (i + 1) * bit)) -
                               out.size(),
                           static_cast<char>(data | kSclk));
            }
            out.append(static_cast<std::size_t>(bit), static_cast<char>(kSfrm));
        }
    } while (busy && static_cast<double>(out.size()) < kRate);
    out.resize(static_cast<std::size_t>(kRate), static_cast<char>(kSfrm));
    return out;
}

void DecodeStream(benchmark::State& state, bool busy) {
    const std::string second = Second(busy);
    const int bits[3] = {0, 1, 2};
    for (auto _ : state) {
        varkel_check::CaptureInfo info;
        info.secondsPerTick = 1 / kRate;
        varkel_check::CheckPipeline pipeline(varkel_check::Expectation{});
        pipeline.Begin(info);
        varkel_check::LogicStream stream(1, bits, pipeline);
        for (std::size_t at = 0; at < second.size(); at += kPacket) {
            stream.Take(std::string_view(second).substr(at, kPacket));
        }
        pipeline.End(stream.count());
        benchmark::DoNotOptimize(pipeline.Finish());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(second.size()));
}

void BM_DecodeProgramWire(benchmark::State& state) {
    DecodeStream(state, false);
}
void BM_DecodeBusyWire(benchmark::State& state) {
    DecodeStream(state, true);
}

}  // namespace

BENCHMARK(BM_DecodeProgramWire)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBusyWire)->Unit(benchmark::kMillisecond);
