// Throughput of add and tostereo at every width over 64 KiB fragments, and
// of their plain scalar forms (the _reference lines). The
// byte rate counts the len bytes of one input fragment per call (for add,
// each of its two inputs is that long; tostereo writes twice as much).
//
//   build/bin/bench_samplekit --benchmark_filter='add|tostereo|memcpy'
#include "bench_common.h"
#include "generic/reference.h"
#include "samplekit_decls.h"

namespace {

using bench::kBytes;
using bench::per_sample;
using bench::random_bytes;

char *chars(std::vector<unsigned char> &b) { return reinterpret_cast<char *>(b.data()); }

// Whole samples only: 64 KiB is not a multiple of 3.
template <int Width>
constexpr std::size_t kSamples = kBytes / static_cast<std::size_t>(Width);
template <int Width>
constexpr std::size_t kLen = kSamples<Width> * static_cast<std::size_t>(Width);

using AddRoutine = void(char *, char *, char *, std::size_t, int);
using TostereoRoutine = void(char *, char *, std::size_t, int, double, double);

template <int Width, AddRoutine Add = add>
void BM_add(benchmark::State &state) {
    auto a = random_bytes(kBytes, 1);
    auto b = random_bytes(kBytes, 2);
    std::vector<unsigned char> out(kBytes);
    for (auto _ : state) {
        Add(chars(out), chars(a), chars(b), kLen<Width>, Width);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, kSamples<Width>, kLen<Width>);
}
BENCHMARK(BM_add<1>)->Name("BM_add/width:1");
BENCHMARK(BM_add<2>)->Name("BM_add/width:2");
BENCHMARK(BM_add<3>)->Name("BM_add/width:3");
BENCHMARK(BM_add<4>)->Name("BM_add/width:4");
BENCHMARK(BM_add<1, samplekit::reference::add>)->Name("BM_add_reference/width:1");
BENCHMARK(BM_add<2, samplekit::reference::add>)->Name("BM_add_reference/width:2");
BENCHMARK(BM_add<3, samplekit::reference::add>)->Name("BM_add_reference/width:3");
BENCHMARK(BM_add<4, samplekit::reference::add>)->Name("BM_add_reference/width:4");

// The output is the first input; each call mixes into the previous result.
template <int Width>
void BM_add_in_place(benchmark::State &state) {
    auto a = random_bytes(kBytes, 1);
    auto b = random_bytes(kBytes, 2);
    for (auto _ : state) {
        add(chars(a), chars(a), chars(b), kLen<Width>, Width);
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, kSamples<Width>, kLen<Width>);
}
BENCHMARK(BM_add_in_place<2>)->Name("BM_add_in_place/width:2");

template <int Width, TostereoRoutine Tostereo = tostereo>
void BM_tostereo(benchmark::State &state) {
    auto in = random_bytes(kBytes);
    std::vector<unsigned char> out(2 * kBytes);
    for (auto _ : state) {
        Tostereo(chars(out), chars(in), kLen<Width>, Width, 0.8, -0.6);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(state, kSamples<Width>, kLen<Width>);
}
BENCHMARK(BM_tostereo<1>)->Name("BM_tostereo/width:1");
BENCHMARK(BM_tostereo<2>)->Name("BM_tostereo/width:2");
BENCHMARK(BM_tostereo<3>)->Name("BM_tostereo/width:3");
BENCHMARK(BM_tostereo<4>)->Name("BM_tostereo/width:4");
BENCHMARK(BM_tostereo<1, samplekit::reference::tostereo>)->Name("BM_tostereo_reference/width:1");
BENCHMARK(BM_tostereo<2, samplekit::reference::tostereo>)->Name("BM_tostereo_reference/width:2");
BENCHMARK(BM_tostereo<3, samplekit::reference::tostereo>)->Name("BM_tostereo_reference/width:3");
BENCHMARK(BM_tostereo<4, samplekit::reference::tostereo>)->Name("BM_tostereo_reference/width:4");

}  // namespace
