// tostereo four doubles a register (compiled for x86-64-v3), with the same
// results as two a register.
#include <immintrin.h>

#include "x86/tables.h"
#include "x86/tostereo.h"

namespace samplekit::x86 {
namespace {

template <>
struct Doubles<4> {
    using V = __m256d;
    static __m256d broadcast(double x) { return _mm256_set1_pd(x); }
    static __m256d from_int32(__m128i x) { return _mm256_cvtepi32_pd(x); }
    static __m256d multiply(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
    static __m256d plus(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
    static __m256d minimum(__m256d a, __m256d b) { return _mm256_min_pd(a, b); }
    static __m256d maximum(__m256d a, __m256d b) { return _mm256_max_pd(a, b); }
    static __m256d below_as(__m256d a, __m256d b, __m256d bits) {
        return _mm256_and_pd(_mm256_cmp_pd(a, b, _CMP_LT_OQ), bits);
    }
    static __m128i truncated(__m256d a) { return _mm256_cvttpd_epi32(a); }
};

}  // namespace
}  // namespace samplekit::x86

void samplekit::x86::avx2::tostereo(char *out, char *frag, std::size_t len, int width,
                                    double lgain, double rgain) {
    tostereo_fragment(out, frag, len, width, lgain, rgain,
                      StereoBlocks<4>{lgain, rgain});
}
