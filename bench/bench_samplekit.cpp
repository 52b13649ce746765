// Throughput of the _samplekit routines over 64 KiB buffers, of every
// implementation table this processor runs ("plain" is the plain forms),
// beside a plain memcpy of the same bytes as the reference line. The G.711
// routines, which have one form, and the benchmark main are here; each other
// routine family has a file of its own.
//
//   build/bin/bench_samplekit [--benchmark_filter=REGEX]
#include <cstring>

#include "bench_common.h"
#include "samplekit_decls.h"

namespace {

using bench::kBytes;
using bench::per_sample;
using bench::random_bytes;

void BM_memcpy(benchmark::State &state) {
    const auto in = random_bytes(kBytes);
    std::vector<unsigned char> out(kBytes);
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), kBytes);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, kBytes / 2, kBytes);   // as 16-bit samples
}
BENCHMARK(BM_memcpy);

template <unsigned char (*Encode)(PyInt16)>
void BM_g711_encode(benchmark::State &state) {
    const auto in = random_bytes(kBytes);
    const std::size_t n = kBytes / 2;
    std::vector<PyInt16> samples(n);
    std::memcpy(samples.data(), in.data(), kBytes);
    std::vector<unsigned char> out(n);
    for (auto _ : state) {
        for (std::size_t i = 0; i < n; ++i) out[i] = Encode(samples[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, n, kBytes);
}
BENCHMARK(BM_g711_encode<st_14linear2ulaw>)->Name("BM_st_14linear2ulaw");
BENCHMARK(BM_g711_encode<st_linear2alaw>)->Name("BM_st_linear2alaw");

template <PyInt16 (*Decode)(unsigned char)>
void BM_g711_decode(benchmark::State &state) {
    const auto codes = random_bytes(kBytes);
    std::vector<PyInt16> out(kBytes);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kBytes; ++i) out[i] = Decode(codes[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, kBytes, kBytes);
}
BENCHMARK(BM_g711_decode<st_ulaw2linear16>)->Name("BM_st_ulaw2linear16");
BENCHMARK(BM_g711_decode<st_alaw2linear16>)->Name("BM_st_alaw2linear16");

}  // namespace

int main(int argc, char **argv) {
    for (const auto *impl : kivo_tests::runnable()) {
        bench::register_mix(*impl);
        bench::register_adpcm(*impl);
        bench::register_ratecv(*impl);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    kivo_tests::report_left_out();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
