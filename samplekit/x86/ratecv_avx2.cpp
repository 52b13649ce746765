// ratecv four doubles a register (compiled for x86-64-v3), with the same
// results as two a register; one or two channels keep two a register.
#include <immintrin.h>

#include "x86/ratecv.h"
#include "x86/tables.h"

namespace samplekit::x86 {
namespace {

template <>
struct DoubleLanes<4> {
    using V = __m256d;
    static constexpr int lanes = 4, per_quad = 1;
    static V broadcast(double x) { return _mm256_set1_pd(x); }
    static V plus(V a, V b) { return _mm256_add_pd(a, b); }
    static V minus(V a, V b) { return _mm256_sub_pd(a, b); }
    static V times(V a, V b) { return _mm256_mul_pd(a, b); }
    static V over(V a, V b) { return _mm256_div_pd(a, b); }
    static V minimum(V a, V b) { return _mm256_min_pd(a, b); }
    template <int H>
    static V from_quad(__m128i q) { return _mm256_cvtepi32_pd(q); }
    static __m128i to_quad(V a) { return _mm256_cvttpd_epi32(a); }
    static V whole(V a) { return _mm256_round_pd(a, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
};

}  // namespace
}  // namespace samplekit::x86

int samplekit::x86::avx2::ratecv(char *out, char *frag, std::size_t nframes, int width,
                                 int channels, int rate_in, int rate_out, int *phase,
                                 int *previous, int *current, int weight_new,
                                 int weight_prev) {
    return ratecv_call(out, frag, nframes, width, channels, rate_in, rate_out, phase,
                       previous, current, weight_new, weight_prev,
                       [](auto w, auto mode, const Conversion &c) {
                           return convert<decltype(w)::value, decltype(mode)::value,
                                          DoubleLanes<2>, DoubleLanes<4>>(c);
                       });
}
