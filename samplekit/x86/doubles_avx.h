// Four doubles a register (AVX), for the files compiled for x86-64-v3: the
// same operations as DoubleLanes<2> (x86/doubles.h).
#pragma once

#include <immintrin.h>

#include "x86/doubles.h"

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
    static V maximum(V a, V b) { return _mm256_max_pd(a, b); }
    static V below_as(V a, V b, V bits) {
        return _mm256_and_pd(_mm256_cmp_pd(a, b, _CMP_LT_OQ), bits);
    }
    template <int H>
    static V from_quad(__m128i q) { return _mm256_cvtepi32_pd(q); }
    static __m128i to_quad(V a) { return _mm256_cvttpd_epi32(a); }
    static V whole(V a) { return _mm256_round_pd(a, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
};

}  // namespace
}  // namespace samplekit::x86
