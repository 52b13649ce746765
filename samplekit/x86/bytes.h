// Loads and stores of the SSE2 kernels: whole registers and parts of them at
// any alignment, and the 24-bit samples, which SSE2 cannot shuffle into
// lanes.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

namespace samplekit::x86 {
namespace {

inline __m128i load_bytes(const unsigned char *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}
inline __m128i load_8_bytes(const unsigned char *p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
}
inline void store_bytes(unsigned char *p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}

// The 24-bit sample at p in bits 8-31 of lane 0, from a 4-byte load that
// ends with its last byte (reading p[-1] to p[2]); an arithmetic shift right
// by 8 gives its native value. Width 3 has no byte shuffle in SSE2, and one
// unaligned load per sample is cheaper than moving 24-bit lanes into place.
inline __m128i sample24_high(const unsigned char *p) {
    std::int32_t bits;
    std::memcpy(&bits, p - 1, 4);
    return _mm_cvtsi32_si128(bits);
}

// Stores the low 4 bytes of v.
inline void store_low_4(unsigned char *p, __m128i v) {
    const std::int32_t bits = _mm_cvtsi128_si32(v);
    std::memcpy(p, &bits, 4);
}

// Lanes sign-extended from their low 8 * W bits (W of 1 or 2), so that the

}  // namespace
}  // namespace samplekit::x86
