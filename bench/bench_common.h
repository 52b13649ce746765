// Shared set-up of the benchmarks: 64 KiB inputs, per-sample reporting, and
// the implementations to time (every table the build compiled that this
// processor runs), each routine of each registered under the table's name.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "runnable.h"

namespace bench {

using samplekit::Implementation;

inline constexpr std::size_t kBytes = 64 * 1024;

inline std::vector<unsigned char> random_bytes(std::size_t n, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> v(n);
    for (auto &b : v) b = static_cast<unsigned char>(rng());
    return v;
}

inline char *chars(std::vector<unsigned char> &b) { return reinterpret_cast<char *>(b.data()); }

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

// "BM_<routine>/<table>/<what>"
inline std::string name(const char *routine, const Implementation &impl,
                        const std::string &what = "") {
    return std::string("BM_") + routine + "/" + impl.name + (what.empty() ? "" : "/" + what);
}

// Each file's benchmarks of one table (bench_mix.cpp, bench_adpcm.cpp,
// bench_ratecv.cpp).
void register_mix(const Implementation &impl);
void register_adpcm(const Implementation &impl);
void register_ratecv(const Implementation &impl);

}  // namespace bench
