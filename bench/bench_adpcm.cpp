// Throughput of the ADPCM coder over 64 KiB of input, 16-bit mono. Each
// sample depends on the state the one before left, so the figure is the
// latency of one step of that chain. The encoder runs on noise, where its
// comparisons are unpredictable, and on a slow tone, where they are not.
//
//   build/bin/bench_samplekit --benchmark_filter='adcpm|memcpy'
#include <cmath>
#include <cstring>

#include "bench_common.h"
#include "generic/reference.h"
#include "samplekit_decls.h"

namespace {

using bench::kBytes;
using bench::per_sample;
using bench::random_bytes;

std::vector<unsigned char> tone() {
    std::vector<unsigned char> b(kBytes);
    for (std::size_t k = 0; k < kBytes / 2; ++k) {
        const auto v = static_cast<std::int16_t>(
            20000.0 * std::sin(static_cast<double>(k) * 0.0628));
        std::memcpy(&b[2 * k], &v, 2);
    }
    return b;
}

using Coder = void(unsigned char *, unsigned char *, std::size_t, std::size_t, int *);

template <Coder Encode>
void encode(benchmark::State &state, const std::vector<unsigned char> &in_bytes) {
    auto in = in_bytes;
    std::vector<unsigned char> out(kBytes / 4);
    int coder[2] = {0, 0};
    for (auto _ : state) {
        Encode(out.data(), in.data(), kBytes, 2, coder);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, kBytes / 2, kBytes);
}
void BM_lin2adcpm(benchmark::State &state, std::vector<unsigned char> in) {
    encode<lin2adcpm>(state, in);
}
void BM_lin2adcpm_reference(benchmark::State &state, std::vector<unsigned char> in) {
    encode<samplekit::reference::lin2adcpm>(state, in);
}
BENCHMARK_CAPTURE(BM_lin2adcpm, noise, random_bytes(kBytes));
BENCHMARK_CAPTURE(BM_lin2adcpm, tone, tone());
BENCHMARK_CAPTURE(BM_lin2adcpm_reference, noise, random_bytes(kBytes));

// 64 KiB of codes: two samples per byte, 256 KiB of output.
template <Coder Decode = adcpm2lin>
void BM_adcpm2lin(benchmark::State &state) {
    auto in = random_bytes(kBytes);
    std::vector<unsigned char> out(kBytes * 4);
    int coder[2] = {0, 0};
    for (auto _ : state) {
        Decode(out.data(), in.data(), kBytes, 2, coder);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, kBytes * 2, kBytes);
}
BENCHMARK(BM_adcpm2lin<>)->Name("BM_adcpm2lin");
BENCHMARK(BM_adcpm2lin<samplekit::reference::adcpm2lin>)->Name("BM_adcpm2lin_reference");

}  // namespace
