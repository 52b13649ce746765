// Rate conversion of one second of 16-bit stereo input, in nanoseconds per
// output frame. Each iteration starts a fresh stream. The filter weights are
// 1 and 0 (pass-through, the usual call) or 1 and 1 (the filter at work).
//
//   build/bin/bench_samplekit --benchmark_filter=ratecv
#include <cstdint>
#include <vector>

#include "bench_common.h"
#include "ratecv.h"
#include "generic/reference.h"
#include "samplekit_decls.h"

namespace {

constexpr int kWidth = 2;
constexpr int kChannels = 2;

using Converter = int(char *, char *, std::size_t, int, int, int, int, int *, int *, int *,
                     int, int);

template <Converter Convert>
void convert(benchmark::State &state) {
    const int rate_in = static_cast<int>(state.range(0));
    const int rate_out = static_cast<int>(state.range(1));
    const int weight_prev = static_cast<int>(state.range(2));
    const auto nframes = static_cast<std::size_t>(rate_in);
    auto in = bench::random_bytes(nframes * kChannels * kWidth);
    const int start_phase = -(rate_out / samplekit::gcd(rate_in, rate_out));
    const std::int64_t frames =
        samplekit::ratecv_output_frames(start_phase, nframes, rate_in, rate_out);
    std::vector<unsigned char> out(static_cast<std::size_t>(frames) * kChannels * kWidth);
    for (auto _ : state) {
        int phase = start_phase;
        int previous[kChannels] = {}, current[kChannels] = {};
        const int written = Convert(reinterpret_cast<char *>(out.data()),
                                   reinterpret_cast<char *>(in.data()), nframes, kWidth,
                                   kChannels, rate_in, rate_out, &phase, previous,
                                   current, 1, weight_prev);
        benchmark::DoNotOptimize(written);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_output_frame"] = benchmark::Counter(
        static_cast<double>(frames) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(in.size()));
}
void BM_ratecv(benchmark::State &state) { convert<ratecv>(state); }
void BM_ratecv_reference(benchmark::State &state) {
    convert<samplekit::reference::ratecv>(state);
}

BENCHMARK(BM_ratecv_reference)
    ->ArgNames({"in", "out", "weight_prev"})
    ->Args({44100, 48000, 0})
    ->Args({44100, 48000, 1});
BENCHMARK(BM_ratecv)
    ->ArgNames({"in", "out", "weight_prev"})
    ->Args({44100, 48000, 0})
    ->Args({48000, 44100, 0})
    ->Args({44100, 8000, 0})
    ->Args({44100, 48000, 1})
    ->Args({48000, 44100, 1})
    ->Args({44100, 8000, 1});

}  // namespace
