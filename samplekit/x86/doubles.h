// Registers of doubles for the x86 kernels of tostereo and ratecv:
// DoubleLanes<2> (SSE2) here, DoubleLanes<4> (AVX) in x86/doubles_avx.h for
// the files compiled for it. Both round and truncate alike, and both
// conversions give INT32_MIN for a NaN, so a kernel written for either gives
// the same results.
#pragma once

#include <emmintrin.h>
#ifdef __SSE4_1__
#include <smmintrin.h>
#endif

namespace samplekit::x86 {
namespace {

template <int Lanes>
struct DoubleLanes;

// Two doubles a register; a quad of ints gives two registers.
template <>
struct DoubleLanes<2> {
    using V = __m128d;
    static constexpr int lanes = 2, per_quad = 2;
    static V broadcast(double x) { return _mm_set1_pd(x); }
    static V plus(V a, V b) { return _mm_add_pd(a, b); }
    static V minus(V a, V b) { return _mm_sub_pd(a, b); }
    static V times(V a, V b) { return _mm_mul_pd(a, b); }
    static V over(V a, V b) { return _mm_div_pd(a, b); }
    static V minimum(V a, V b) { return _mm_min_pd(a, b); }
    static V maximum(V a, V b) { return _mm_max_pd(a, b); }
    // bits in the lanes where a < b, else zero
    static V below_as(V a, V b, V bits) { return _mm_and_pd(_mm_cmplt_pd(a, b), bits); }
    // Register H of a quad's lanes.
    template <int H>
    static V from_quad(__m128i q) {
        if constexpr (H == 0) return _mm_cvtepi32_pd(q);
        else return _mm_cvtepi32_pd(_mm_unpackhi_epi64(q, q));
    }
    // The lanes truncated toward zero, into a quad (b, if given, above a);
    // a NaN gives INT32_MIN.
    static __m128i to_quad(V a) { return _mm_cvttpd_epi32(a); }
    static __m128i to_quad(V a, V b) {
        return _mm_unpacklo_epi64(_mm_cvttpd_epi32(a), _mm_cvttpd_epi32(b));
    }
    // Truncated toward zero, as doubles again, for values within int: one
    // instruction where SSE4.1 has it (a zero may then be -0.0, which
    // weighs and converts as 0.0).
    static V whole(V a) {
#ifdef __SSE4_1__
        return _mm_round_pd(a, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
#else
        return _mm_cvtepi32_pd(_mm_cvttpd_epi32(a));
#endif
    }
};

}  // namespace
}  // namespace samplekit::x86
