// Throughput of the ADPCM coder over 64 KiB of input, mono, at every width.
// Each sample depends on the state the one before left, so the figure is the
// latency of one step of that chain. The encoder runs on noise, where its
// comparisons are unpredictable, at every width, and on a slow 16-bit tone,
// where they are not.
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

// 64 KiB of input at the given width (whole samples): one code, half a
// byte, per sample.
void encode(benchmark::State &state, const Implementation &impl,
            std::vector<unsigned char> in, int width) {
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t samples = kBytes / w;
    std::vector<unsigned char> out(samples / 2 + 1);
    int coder[2] = {0, 0};
    for (auto _ : state) {
        impl.lin2adcpm(out.data(), in.data(), samples * w, w, coder);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, samples, samples * w);
}

// 64 KiB of codes: two samples per byte, each of the given width.
void decode(benchmark::State &state, const Implementation &impl, int width) {
    const std::size_t w = static_cast<std::size_t>(width);
    auto in = random_bytes(kBytes);
    std::vector<unsigned char> out(kBytes * 2 * w);
    int coder[2] = {0, 0};
    for (auto _ : state) {
        impl.adcpm2lin(out.data(), in.data(), kBytes, w, coder);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, kBytes * 2, kBytes);
}

}  // namespace

void register_adpcm(const Implementation &impl) {
    for (int width = 1; width <= 4; ++width) {
        const std::string w = "width:" + std::to_string(width);
        benchmark::RegisterBenchmark(name("lin2adcpm", impl, "noise/" + w).c_str(), encode, impl,
                                     random_bytes(kBytes), width);
        benchmark::RegisterBenchmark(name("adcpm2lin", impl, w).c_str(), decode, impl, width);
    }
    benchmark::RegisterBenchmark(name("lin2adcpm", impl, "tone/width:2").c_str(), encode, impl,
                                 tone(), 2);
}

}  // namespace bench
