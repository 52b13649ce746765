// Rate conversion of one second of input, in nanoseconds per output sample
// (frames times channels). Each iteration starts a fresh stream. The filter
// weights are 1 and 0 (pass-through, the usual call) or 1 and 1 (the filter
// at work). 44.1 to 48 kHz at every width and 1 to 8 channels, and 16-bit
// stereo at other rates.
//
//   build/bin/bench_samplekit --benchmark_filter=ratecv
#include <algorithm>
#include <cstdint>
#include <vector>

#include "bench_common.h"
#include "core/ratecv_frame.h"

namespace bench {
namespace {

struct Case {
    int rate_in, rate_out, width, channels, weight_prev;
};

void convert(benchmark::State &state, const Implementation &impl, Case c) {
    const auto nframes = static_cast<std::size_t>(c.rate_in);
    const auto frame = static_cast<std::size_t>(c.channels * c.width);
    auto in = random_bytes(nframes * frame);
    const int start_phase = -(c.rate_out / samplekit::gcd(c.rate_in, c.rate_out));
    const std::int64_t frames =
        samplekit::ratecv_output_frames(start_phase, nframes, c.rate_in, c.rate_out);
    std::vector<unsigned char> out(static_cast<std::size_t>(frames) * frame);
    std::vector<int> previous(static_cast<std::size_t>(c.channels));
    std::vector<int> current(previous.size());
    for (auto _ : state) {
        int phase = start_phase;
        std::fill(previous.begin(), previous.end(), 0);
        std::fill(current.begin(), current.end(), 0);
        const int written = impl.ratecv(chars(out), chars(in), nframes, c.width, c.channels,
                                        c.rate_in, c.rate_out, &phase, previous.data(),
                                        current.data(), 1, c.weight_prev);
        benchmark::DoNotOptimize(written);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(frames * c.channels) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(in.size()));
}

}  // namespace

void register_ratecv(const Implementation &impl) {
    std::vector<Case> cases;
    for (int weight_prev = 0; weight_prev <= 1; ++weight_prev) {
        for (int width = 1; width <= 4; ++width)
            for (int channels = 1; channels <= 8; ++channels)
                cases.push_back({44100, 48000, width, channels, weight_prev});
        for (const auto &[in, out] : {std::pair{48000, 44100}, std::pair{44100, 8000}})
            cases.push_back({in, out, 2, 2, weight_prev});
    }
    for (const Case &c : cases) {
        const std::string what = std::to_string(c.rate_in) + ">" + std::to_string(c.rate_out) +
                                 "/width:" + std::to_string(c.width) +
                                 "/channels:" + std::to_string(c.channels) +
                                 "/weights:1," + std::to_string(c.weight_prev);
        benchmark::RegisterBenchmark(name("ratecv", impl, what).c_str(), convert, impl, c);
    }
}

}  // namespace bench
