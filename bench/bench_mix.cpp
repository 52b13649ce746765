// Throughput of add and tostereo at every width over 64 KiB fragments. The
// byte rate counts the len bytes of one input fragment per call (for add,
// each of its two inputs is that long; tostereo writes twice as much).
//
//   build/bin/bench_samplekit --benchmark_filter='add|tostereo|memcpy'
#include "bench_common.h"

namespace bench {
namespace {

// Whole samples only: 64 KiB is not a multiple of 3.
std::size_t samples(int width) { return kBytes / static_cast<std::size_t>(width); }
std::size_t len(int width) { return samples(width) * static_cast<std::size_t>(width); }

void add(benchmark::State &state, const Implementation &impl, int width) {
    auto a = random_bytes(kBytes, 1);
    auto b = random_bytes(kBytes, 2);
    std::vector<unsigned char> out(kBytes);
    for (auto _ : state) {
        impl.add(chars(out), chars(a), chars(b), len(width), width);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, samples(width), len(width));
}

// The output is the first input; each call mixes into the previous result.
void add_in_place(benchmark::State &state, const Implementation &impl, int width) {
    auto a = random_bytes(kBytes, 1);
    auto b = random_bytes(kBytes, 2);
    for (auto _ : state) {
        impl.add(chars(a), chars(a), chars(b), len(width), width);
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, samples(width), len(width));
}

void tostereo(benchmark::State &state, const Implementation &impl, int width) {
    auto in = random_bytes(kBytes);
    std::vector<unsigned char> out(2 * kBytes);
    for (auto _ : state) {
        impl.tostereo(chars(out), chars(in), len(width), width, 0.8, -0.6);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, samples(width), len(width));
}

}  // namespace

void register_mix(const Implementation &impl) {
    for (int width = 1; width <= 4; ++width) {
        const std::string w = "width:" + std::to_string(width);
        benchmark::RegisterBenchmark(name("add", impl, w).c_str(), add, impl, width);
        benchmark::RegisterBenchmark(name("tostereo", impl, w).c_str(), tostereo, impl, width);
    }
    benchmark::RegisterBenchmark(name("add_in_place", impl, "width:2").c_str(), add_in_place,
                                 impl, 2);
}

}  // namespace bench
