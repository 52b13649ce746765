// Throughput of the ADPCM coder over 64 KiB of input, 16-bit mono. Each
// sample depends on the state the one before left, so the figure is the
// latency of one step of that chain. The encoder runs on noise, where its
// comparisons are unpredictable, and on a slow tone, where they are not.
//
//   build/bin/bench_samplekit --benchmark_filter='adcpm|memcpy'
#include <cmath>
#include <cstring>

#include "bench_common.h"

namespace bench {
namespace {

std::vector<unsigned char> tone() {
    std::vector<unsigned char> b(kBytes);
    for (std::size_t k = 0; k < kBytes / 2; ++k) {
        const auto v = static_cast<std::int16_t>(
            20000.0 * std::sin(static_cast<double>(k) * 0.0628));
        std::memcpy(&b[2 * k], &v, 2);
    }
    return b;
}

void encode(benchmark::State &state, const Implementation &impl,
            std::vector<unsigned char> in) {
    std::vector<unsigned char> out(kBytes / 4);
    int coder[2] = {0, 0};
    for (auto _ : state) {
        impl.lin2adcpm(out.data(), in.data(), kBytes, 2, coder);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, kBytes / 2, kBytes);
}

// 64 KiB of codes: two samples per byte, 256 KiB of output.
void decode(benchmark::State &state, const Implementation &impl) {
    auto in = random_bytes(kBytes);
    std::vector<unsigned char> out(kBytes * 4);
    int coder[2] = {0, 0};
    for (auto _ : state) {
        impl.adcpm2lin(out.data(), in.data(), kBytes, 2, coder);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, kBytes * 2, kBytes);
}

}  // namespace

void register_adpcm(const Implementation &impl) {
    benchmark::RegisterBenchmark(name("lin2adcpm", impl, "noise").c_str(), encode, impl,
                                 random_bytes(kBytes));
    benchmark::RegisterBenchmark(name("lin2adcpm", impl, "tone").c_str(), encode, impl, tone());
    benchmark::RegisterBenchmark(name("adcpm2lin", impl).c_str(), decode, impl);
}

}  // namespace bench
