// Shared set-up of the benchmarks: 64 KiB inputs and per-sample reporting.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace bench {

inline constexpr std::size_t kBytes = 64 * 1024;

inline std::vector<unsigned char> random_bytes(std::size_t n, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> v(n);
    for (auto &b : v) b = static_cast<unsigned char>(rng());
    return v;
}

// Reports the time per sample (the ns_per_sample column, in nanoseconds) and
// the throughput in bytes of input per second.
inline void per_sample(benchmark::State &state, std::size_t samples,
                       std::size_t input_bytes) {
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(samples) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(input_bytes));
}

}  // namespace bench
