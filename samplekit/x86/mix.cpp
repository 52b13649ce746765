// Mixing of two fragments and expansion of a mono fragment to stereo, both
// on the native scale and saturating every result at the width's limits.
//
// Both are vectorised with SSE2 at every width (tostereo's double arithmetic
// four lanes a register where the baseline has AVX): several samples are widened
// into 32-bit lanes (or kept in 8- and 16-bit lanes where the instruction set
// saturates them itself, and for add at width 3 summed where they lie, as
// 24-bit fields of 64-bit lanes), computed with the same arithmetic as the
// plain form in mix_sample.h, and narrowed back. A block is only loaded where
// all the bytes it reads lie inside the caller's buffer; the samples after the
// last such block go through the plain form, and so does the first sample at
// width 3, where the loads start before the samples they read.
#include <emmintrin.h>
#if defined(__AVX__)
#include <immintrin.h>
#endif

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "generic/mix_sample.h"
#include "sample_layout.h"
#include "x86/kernels.h"

namespace {

using samplekit::sample_max;
using samplekit::sample_min;

__m128i load_bytes(const unsigned char *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}
__m128i load_8_bytes(const unsigned char *p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
}
void store_bytes(unsigned char *p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}

// The 24-bit sample at p in bits 8-31 of lane 0, from a 4-byte load that
// ends with its last byte (reading p[-1] to p[2]); an arithmetic shift right
// by 8 gives its native value. Width 3 has no byte shuffle in SSE2, and one
// unaligned load per sample is cheaper than moving 24-bit lanes into place.
__m128i sample24_high(const unsigned char *p) {
    std::int32_t bits;
    std::memcpy(&bits, p - 1, 4);
    return _mm_cvtsi32_si128(bits);
}

// Stores the low 4 bytes of v.
void store_low_4(unsigned char *p, __m128i v) {
    const std::int32_t bits = _mm_cvtsi128_si32(v);
    std::memcpy(p, &bits, 4);
}

// Lanes sign-extended from their low 8 * W bits (W of 1 or 2), so that the
// saturating packs keep exactly those bits. Results already within the
// width's limits pass unchanged; only a NaN product's INT32_MIN needs it.
template <int W, bool MayBeNaN>
__m128i low_bits_signed(__m128i v) {
    if constexpr (!MayBeNaN) return v;
    constexpr int shift = 32 - 8 * W;
    return _mm_srai_epi32(_mm_slli_epi32(v, shift), shift);
}

// --- add ------------------------------------------------------------------------

// x + y in 32-bit lanes, saturated: an overflow shows as a sum whose sign
// differs from both addends', and then the limit has the sign of x.
__m128i saturated_sum32(__m128i x, __m128i y) {
    const __m128i s = _mm_add_epi32(x, y);
    const __m128i overflow =
        _mm_srai_epi32(_mm_and_si128(_mm_xor_si128(s, x), _mm_xor_si128(s, y)), 31);
    const __m128i limit = _mm_xor_si128(_mm_srai_epi32(x, 31), _mm_set1_epi32(INT32_MAX));
    return _mm_or_si128(_mm_andnot_si128(overflow, s), _mm_and_si128(overflow, limit));
}

// Saturated sums of four 24-bit samples held as 24-bit fields: bits 16-39
// and 40-63 of the low half, bits 0-23 and 24-47 of the high half, which is
// where a 16-byte load from two bytes before the first sample puts them.
// The fields are added in place, with their top bits set aside so that no
// carry crosses into the next field and put back as the exclusive or of the
// two addends' and the carry's. A sum overflows where its sign differs from
// x's while x and y have the same sign; o holds the top bits of those
// fields. From it, (o << 1) - (o >> 23) is 0xFFFFFF in each such field
// (modulo 2^64 for the field that ends at bit 63), and the limits are o
// itself (0x800000, for a negative x) or o less its bit moved to the field's
// bit 0 (0x7FFFFF, for a positive x). The bits outside the fields come out
// zero.
[[gnu::always_inline]] inline __m128i saturated_fields24(__m128i x, __m128i y) {
    const __m128i top = _mm_set_epi64x(0x800000800000, std::int64_t{0x800000800000} << 16);
    const __m128i low = _mm_set_epi64x(0x7FFFFF7FFFFF, std::int64_t{0x7FFFFF7FFFFF} << 16);
    const __m128i differ = _mm_xor_si128(x, y);
    const __m128i s = _mm_xor_si128(
        _mm_add_epi64(_mm_and_si128(x, low), _mm_and_si128(y, low)),
        _mm_and_si128(differ, top));
    const __m128i o = _mm_and_si128(_mm_andnot_si128(differ, _mm_xor_si128(s, x)), top);
    const __m128i overflowed = _mm_sub_epi64(_mm_add_epi64(o, o), _mm_srli_epi64(o, 23));
    const __m128i limit = _mm_add_epi64(low, _mm_srli_epi64(_mm_and_si128(x, top), 23));
    return _mm_xor_si128(s, _mm_and_si128(_mm_xor_si128(s, limit), overflowed));
}

// The sum of the 16-byte block at offset i. Streamed stores go around the
// caches and need out + i aligned to 16 bytes.
template <int W, bool Stream>
[[gnu::always_inline]] inline void add_16_bytes(unsigned char *out, const unsigned char *a,
                                                const unsigned char *b, std::size_t i) {
    const __m128i x = load_bytes(a + i);
    const __m128i y = load_bytes(b + i);
    __m128i s;
    if constexpr (W == 1) s = _mm_adds_epi8(x, y);
    else if constexpr (W == 2) s = _mm_adds_epi16(x, y);
    else s = saturated_sum32(x, y);
    if constexpr (Stream) _mm_stream_si128(reinterpret_cast<__m128i *>(out + i), s);
    else store_bytes(out + i, s);
}

// Sums of 16-byte blocks from offset i while a whole block remains before
// end; returns the offset reached. Four blocks a turn: one block with its
// loop's own count and branch took half as long again as a memmove of its
// bytes in the nearer caches.
template <int W, bool Stream>
std::size_t add_16_byte_blocks(unsigned char *out, const unsigned char *a,
                               const unsigned char *b, std::size_t i, std::size_t end) {
    for (; end - i >= 64; i += 64) {
        add_16_bytes<W, Stream>(out, a, b, i);
        add_16_bytes<W, Stream>(out, a, b, i + 16);
        add_16_bytes<W, Stream>(out, a, b, i + 32);
        add_16_bytes<W, Stream>(out, a, b, i + 48);
    }
    for (; end - i >= 16; i += 16) add_16_bytes<W, Stream>(out, a, b, i);
    if constexpr (Stream) _mm_sfence();   // ordered before whatever the caller stores next
    return i;
}

// From 4 MiB (12 with the inputs): smaller, a cache keeps what streaming evicts; larger, stores pay a read per line.
inline constexpr std::size_t kStreamedAddBytes = 4 * 1024 * 1024;

// Adds the whole blocks of W-byte samples in [0, end) that can be loaded
// without reading past end; returns the offset of the first sample left.
// Both inputs of a block are loaded before its output is stored, so out may
// be either input.
template <int W>
std::size_t add_blocks(unsigned char *out, const unsigned char *a,
                       const unsigned char *b, std::size_t end) {
    std::size_t i = 0;
    if constexpr (W == 3) {
        // Blocks of four samples, each loaded with 16-byte loads from two
        // bytes before its first sample (the fragment's first sample takes
        // the plain form) and stored with one 16-byte store from there. The
        // store's first two bytes are the previous sum's last two, kept in
        // `before`; its last two spill onto the next block, whose inputs
        // (out may be either of them) are loaded before it and whose store
        // overwrites them. The last block stores exactly its own bytes.
        if (end < 17) return 0;
        samplekit::add_sample<3>(out, a, b);
        __m128i before = _mm_cvtsi32_si128(out[1] | out[2] << 8);
        __m128i x = load_bytes(a + 1), y = load_bytes(b + 1);
#pragma GCC unroll 2
        for (i = 3; end - i >= 26; i += 12) {
            const __m128i next_x = load_bytes(a + i + 10), next_y = load_bytes(b + i + 10);
            const __m128i s = saturated_fields24(x, y);
            store_bytes(out + i - 2, _mm_or_si128(s, before));
            before = _mm_srli_si128(s, 12);
            x = next_x;
            y = next_y;
        }
        const __m128i s = _mm_or_si128(saturated_fields24(x, y), before);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i - 2), s);
        store_low_4(out + i + 6, _mm_unpackhi_epi64(s, s));
        const auto bytes_10_11 = static_cast<std::uint16_t>(_mm_extract_epi16(s, 6));
        std::memcpy(out + i + 10, &bytes_10_11, 2);
        i += 12;
    } else {
        // Streaming starts where out is aligned, after as many whole samples
        // as that takes (none when out's misalignment is not a whole number
        // of samples: then the stores stay ordinary).
        const std::size_t head = (0 - reinterpret_cast<std::uintptr_t>(out)) & 15;
        if (end >= kStreamedAddBytes && head % W == 0) {
            for (; i < head; i += W) samplekit::add_sample<W>(out + i, a + i, b + i);
            return add_16_byte_blocks<W, true>(out, a, b, i, end);
        }
        i = add_16_byte_blocks<W, false>(out, a, b, i, end);
    }
    return i;
}

// --- tostereo -------------------------------------------------------------------

// The saturation of clamp_to_range for two products at once. The minimum and
// maximum keep a NaN product (their second operand wins when one is NaN);
// products below min + 1 are raised to min + 1 and then lowered by exactly 1,
// giving min; the conversion truncates and turns a NaN into INT32_MIN.
//
// A gain with |gain| * 2^(8W-1) <= max cannot carry any sample of width W
// past either limit (the product's rounding is monotonic and max is a
// double), so for such a gain, the usual case, the clamp is left out: the
// result is the same product truncated.
template <int W>
bool needs_clamp(double gain) {
    return !(std::fabs(gain) * -static_cast<double>(sample_min[W]) <= sample_max[W]);
}

// The double work of tostereo at either register width: two doubles (SSE2)
// or, where the baseline has AVX, four. Both widths round and truncate alike,
// and both conversions give INT32_MIN for a NaN.
__m128d multiply(__m128d a, __m128d b) { return _mm_mul_pd(a, b); }
__m128d plus(__m128d a, __m128d b) { return _mm_add_pd(a, b); }
__m128d minimum(__m128d a, __m128d b) { return _mm_min_pd(a, b); }
__m128d maximum(__m128d a, __m128d b) { return _mm_max_pd(a, b); }
// bits in the lanes where a < b, else zero
__m128d below_as(__m128d a, __m128d b, __m128d bits) {
    return _mm_and_pd(_mm_cmplt_pd(a, b), bits);
}
__m128i truncated(__m128d a) { return _mm_cvttpd_epi32(a); }   // in the low two lanes
#if defined(__AVX__)
__m256d multiply(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
__m256d plus(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
__m256d minimum(__m256d a, __m256d b) { return _mm256_min_pd(a, b); }
__m256d maximum(__m256d a, __m256d b) { return _mm256_max_pd(a, b); }
__m256d below_as(__m256d a, __m256d b, __m256d bits) {
    return _mm256_and_pd(_mm256_cmp_pd(a, b, _CMP_LT_OQ), bits);
}
__m128i truncated(__m256d a) { return _mm256_cvttpd_epi32(a); }
#endif

// The register of Lanes doubles, and x in each of its lanes.
template <int Lanes>
struct Doubles {
    using type = __m128d;
    static type broadcast(double x) { return _mm_set1_pd(x); }
};
#if defined(__AVX__)
template <>
struct Doubles<4> {
    using type = __m256d;
    static type broadcast(double x) { return _mm256_set1_pd(x); }
};
#endif

// The gains and limits of one width, in every lane.
template <int W, int Lanes>
struct ScaleConstants {
    using V = typename Doubles<Lanes>::type;
    V left, right, max, min_plus_one, minus_one;

    ScaleConstants(double lgain, double rgain)
        : left(Doubles<Lanes>::broadcast(lgain)), right(Doubles<Lanes>::broadcast(rgain)),
          max(Doubles<Lanes>::broadcast(sample_max[W])),
          min_plus_one(Doubles<Lanes>::broadcast(sample_min[W] + 1.0)),
          minus_one(Doubles<Lanes>::broadcast(-1.0)) {}

    template <bool Clamp>
    __m128i scale(V v, V gain) const {
        const V p = multiply(v, gain);
        if constexpr (!Clamp) return truncated(p);
        const V lowered = below_as(p, min_plus_one, minus_one);
        const V y = maximum(min_plus_one, minimum(max, p));
        return truncated(plus(y, lowered));
    }
};

template <int W, bool ClampLeft, bool ClampRight>
struct StereoGains : ScaleConstants<W, 2> {
    using Two = ScaleConstants<W, 2>;
#if defined(__AVX__)
    ScaleConstants<W, 4> four;
    StereoGains(double lgain, double rgain) : Two(lgain, rgain), four(lgain, rgain) {}
#else
    using Two::Two;
#endif

    // Left and right results of two samples as (l0, r0, l1, r1).
    __m128i pair(__m128d v) const {
        return _mm_unpacklo_epi32(this->template scale<ClampLeft>(v, this->left),
                                  this->template scale<ClampRight>(v, this->right));
    }

    // Of four native samples in 32-bit lanes: (l0, r0, l1, r1) and
    // (l2, r2, l3, r3).
    void expand(__m128i samples, __m128i &low, __m128i &high) const {
#if defined(__AVX__)
        const __m256d v = _mm256_cvtepi32_pd(samples);
        const __m128i l = four.template scale<ClampLeft>(v, four.left);
        const __m128i r = four.template scale<ClampRight>(v, four.right);
        low = _mm_unpacklo_epi32(l, r);
        high = _mm_unpackhi_epi32(l, r);
#else
        low = pair(_mm_cvtepi32_pd(samples));
        high = pair(_mm_cvtepi32_pd(_mm_srli_si128(samples, 8)));
#endif
    }
};

// Expands the whole blocks of W-byte samples in [0, end) that can be loaded
// without reading past end; returns the offset of the first sample left.
template <int W, bool ClampLeft, bool ClampRight, bool MayBeNaN = false>
std::size_t tostereo_blocks(unsigned char *out, const unsigned char *in, std::size_t end,
                            double lgain, double rgain) {
    const StereoGains<W, ClampLeft, ClampRight> g(lgain, rgain);
    std::size_t i = 0;
    __m128i r0, r1;
    if constexpr (W == 1) {
        for (; end - i >= 8; i += 8) {
            const __m128i x = load_8_bytes(in + i);
            const __m128i bytes = _mm_unpacklo_epi8(x, x);
            __m128i r2, r3;
            g.expand(_mm_srai_epi32(_mm_unpacklo_epi16(bytes, bytes), 24), r0, r1);
            g.expand(_mm_srai_epi32(_mm_unpackhi_epi16(bytes, bytes), 24), r2, r3);
            const __m128i low = _mm_packs_epi32(low_bits_signed<1, MayBeNaN>(r0),
                                                low_bits_signed<1, MayBeNaN>(r1));
            const __m128i high = _mm_packs_epi32(low_bits_signed<1, MayBeNaN>(r2),
                                                 low_bits_signed<1, MayBeNaN>(r3));
            store_bytes(out + 2 * i, _mm_packs_epi16(low, high));
        }
    } else if constexpr (W == 2) {
        for (; end - i >= 8; i += 8) {
            const __m128i x = load_8_bytes(in + i);
            g.expand(_mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16), r0, r1);
            store_bytes(out + 2 * i,
                        _mm_packs_epi32(low_bits_signed<2, MayBeNaN>(r0),
                                        low_bits_signed<2, MayBeNaN>(r1)));
        }
    } else if constexpr (W == 3) {
        // Each sample comes from a 4-byte load ending with its last byte, so
        // that it lands in bits 8-31 of a lane, from where the arithmetic
        // shift brings it down with its sign; the fragment's first sample has
        // no byte before it and takes the plain form. Each result goes out
        // with a 4-byte store whose fourth byte the next store overwrites:
        // the output does not overlap the input, and the last spill of a
        // block, byte 2 * i + 12, lands on the next sample, which follows.
        // The loads stay within [i - 1, i + 6); the loop's bound keeps a
        // margin beyond both, so the last few samples take the plain form.
        if (end < 3) return 0;
        samplekit::stereo_sample<3>(out, in, lgain, rgain);
        for (i = 3; end - i >= 13; i += 6) {
            const __m128i pair = _mm_srai_epi32(
                _mm_unpacklo_epi32(sample24_high(in + i), sample24_high(in + i + 3)), 8);
            const __m128d v = _mm_cvtepi32_pd(pair);
            const __m128i left = g.template scale<ClampLeft>(v, g.left);
            const __m128i right = g.template scale<ClampRight>(v, g.right);
            unsigned char *p = out + 2 * i;
            store_low_4(p, left);
            store_low_4(p + 3, right);
            store_low_4(p + 6, _mm_srli_si128(left, 4));
            store_low_4(p + 9, _mm_srli_si128(right, 4));
        }
    } else {
        for (; end - i >= 16; i += 16) {
            g.expand(load_bytes(in + i), r0, r1);
            store_bytes(out + 2 * i, r0);
            store_bytes(out + 2 * i + 16, r1);
        }
    }
    return i;
}

template <int W>
std::size_t tostereo_blocks(unsigned char *out, const unsigned char *in, std::size_t end,
                            double lgain, double rgain) {
    // A finite gain gives no NaN product (an overflow saturates), so every
    // result lies within the limits and the packs keep it as it is.
    if (W <= 2 && !(std::isfinite(lgain) && std::isfinite(rgain)))
        return tostereo_blocks<W, true, true, true>(out, in, end, lgain, rgain);
    const bool left = needs_clamp<W>(lgain);
    const bool right = needs_clamp<W>(rgain);
    if (left && right) return tostereo_blocks<W, true, true>(out, in, end, lgain, rgain);
    if (left) return tostereo_blocks<W, true, false>(out, in, end, lgain, rgain);
    if (right) return tostereo_blocks<W, false, true>(out, in, end, lgain, rgain);
    return tostereo_blocks<W, false, false>(out, in, end, lgain, rgain);
}

}  // namespace

// Only whole samples are handled: a tail of len shorter than one sample is
// neither read nor written, and a width outside 1 to 4 stores nothing.
// out may be frag1 or frag2 itself, since both inputs at a position are read
// before that position is written.
void samplekit::x86::add(char *out, char *frag1, char *frag2, std::size_t len,
                    int width) {
    samplekit::add_fragments(out, frag1, frag2, len, width, [](auto w, auto &&...args) {
        return add_blocks<decltype(w)::value>(args...);
    });
}

// Writes 2 * (whole samples of len) * width bytes, left sample first; like
// add, a partial trailing sample and a width outside 1 to 4 store nothing.
// A product that is not a number (a NaN gain, or an infinite gain times a
// zero sample) passes both saturation tests; clamp_to_range turns it into
// INT32_MIN, so its low bytes are stored: zeros at widths 1 to 3 and
// INT32_MIN at width 4, the same on every target.
void samplekit::x86::tostereo(char *out, char *frag, std::size_t len, int width,
                         double lgain, double rgain) {
    samplekit::tostereo_fragment(out, frag, len, width, lgain, rgain,
                                 [=](auto w, auto &&...args) {
                                     return tostereo_blocks<decltype(w)::value>(args..., lgain,
                                                                                rgain);
                                 });
}
