// Why the per-read figure moves between builds: one loop that reads a word
// and counts the read in memory, as the simulated bus's repeated status read
// does, placed at different offsets in the code. Only the placement differs.
#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

struct Counted {
    std::uint64_t left;
    std::uint32_t value;
};

Counted g_counted;
Counted* g_countedAt = &g_counted;

[[gnu::noinline]] std::uint32_t Refill() {
    g_countedAt->left = std::uint64_t{1} << 40;
    return 0;
}

// The poll loop's shape: read (counted), test, count down the limit.
template <int Pad>
[[gnu::noinline, gnu::aligned(64)]] bool CountedGiveUp(std::uint32_t limit) {
    asm volatile(".rept %c0\n\tnop\n\t.endr" ::"i"(Pad));
    for (;;) {
        Counted* counted = g_countedAt;
        std::uint32_t value = 0;
        if (counted->left != 0) {
            --counted->left;
            value = counted->value;
        } else {
            value = Refill();
        }
        if ((value & 4) != 0) {
            return true;
        }
        if (limit == 0) {
            return false;
        }
        --limit;
    }
}

template <int Pad>
void BM_CountedReadAtCodeOffset(benchmark::State& state) {
    Refill();
    constexpr std::uint32_t kLimit = 262144;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CountedGiveUp<Pad>(kLimit));
    }
    const double reads = static_cast<double>(state.iterations()) * (kLimit + 1);
    state.counters["time_per_read"] =
        benchmark::Counter(reads, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK_TEMPLATE(BM_CountedReadAtCodeOffset, 0)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_CountedReadAtCodeOffset, 16)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_CountedReadAtCodeOffset, 32)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_CountedReadAtCodeOffset, 48)->Unit(benchmark::kMicrosecond);

}  // namespace
