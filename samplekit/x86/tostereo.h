// Expansion of a mono fragment to stereo with SSE2 at every width, for any
// register of doubles: several samples are widened into 32-bit lanes,
// multiplied and saturated as the plain form does (core/mix_frame.h), and
// narrowed back, in 8- and 16-bit lanes by the saturating packs. A block is
// only loaded where all the bytes it reads lie inside the caller's buffer; the
// samples after the last such block go through the plain form, and so does the
// first sample at width 3, where the loads start before the samples they read.
//
// The doubles work two to a register (SSE2) or four (AVX): DoubleLanes<Lanes>
// (x86/doubles.h) gives the register and its operations.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "core/mix_frame.h"
#include "x86/bytes.h"
#include "x86/doubles.h"

namespace samplekit::x86 {
namespace {

// Lanes sign-extended from their low 8 * W bits (W of 1 or 2), so that the
// saturating packs keep exactly those bits. Results already within the
// width's limits pass unchanged; only a NaN product's INT32_MIN needs it.
template <int W, bool MayBeNaN>
__m128i low_bits_signed(__m128i v) {
    if constexpr (!MayBeNaN) return v;
    constexpr int shift = 32 - 8 * W;
    return _mm_srai_epi32(_mm_slli_epi32(v, shift), shift);
}

// The saturation of clamp_to_range for a register of products. The minimum
// and maximum keep a NaN product (their second operand wins when one is NaN);
// products below min + 1 are raised to min + 1 and then lowered by exactly 1,
// giving min; the conversion truncates and turns a NaN into INT32_MIN.
//
// A gain with |gain| * 2^(8W-1) <= max cannot carry any sample of width W
// past either limit (the product's rounding is monotonic and max is a
// double), so for such a gain, the usual case, the clamp is left out: the
// result is the same product truncated.
template <int W>
bool needs_clamp(double gain) {
    return !(__builtin_fabs(gain) * -static_cast<double>(sample_min[W]) <= sample_max[W]);
}

// The gains and limits of one width, in every lane of a register of Lanes.
template <int W, int Lanes>
struct ScaleConstants {
    using D = DoubleLanes<Lanes>;
    using V = typename D::V;
    V left, right, max, min_plus_one, minus_one;

    ScaleConstants(double lgain, double rgain)
        : left(D::broadcast(lgain)), right(D::broadcast(rgain)),
          max(D::broadcast(sample_max[W])), min_plus_one(D::broadcast(sample_min[W] + 1.0)),
          minus_one(D::broadcast(-1.0)) {}

    template <bool Clamp>
    __m128i scale(V v, V gain) const {
        const V p = D::times(v, gain);
        if constexpr (!Clamp) return D::to_quad(p);
        const V lowered = D::below_as(p, min_plus_one, minus_one);
        const V y = D::maximum(min_plus_one, D::minimum(max, p));
        return D::to_quad(D::plus(y, lowered));
    }
};

// Two samples at a time in registers of two, and four at a time in registers
// of WideLanes where that is four.
template <int W, int WideLanes, bool ClampLeft, bool ClampRight>
struct StereoGains : ScaleConstants<W, 2> {
    using Two = ScaleConstants<W, 2>;
    ScaleConstants<W, WideLanes> wide;

    StereoGains(double lgain, double rgain) : Two(lgain, rgain), wide(lgain, rgain) {}

    // Left and right results of two samples as (l0, r0, l1, r1).
    __m128i pair(__m128d v) const {
        return _mm_unpacklo_epi32(this->template scale<ClampLeft>(v, this->left),
                                  this->template scale<ClampRight>(v, this->right));
    }

    // Of four native samples in 32-bit lanes: (l0, r0, l1, r1) and
    // (l2, r2, l3, r3).
    void expand(__m128i samples, __m128i &low, __m128i &high) const {
        if constexpr (WideLanes == 4) {
            const auto v = DoubleLanes<WideLanes>::template from_quad<0>(samples);
            const __m128i l = wide.template scale<ClampLeft>(v, wide.left);
            const __m128i r = wide.template scale<ClampRight>(v, wide.right);
            low = _mm_unpacklo_epi32(l, r);
            high = _mm_unpackhi_epi32(l, r);
        } else {
            low = pair(_mm_cvtepi32_pd(samples));
            high = pair(_mm_cvtepi32_pd(_mm_srli_si128(samples, 8)));
        }
    }
};

// Expands the whole blocks of W-byte samples in [0, end) that can be loaded
// without reading past end; returns the offset of the first sample left.
template <int W, int WideLanes, bool ClampLeft, bool ClampRight, bool MayBeNaN = false>
std::size_t tostereo_blocks(unsigned char *out, const unsigned char *in, std::size_t end,
                            double lgain, double rgain) {
    const StereoGains<W, WideLanes, ClampLeft, ClampRight> g(lgain, rgain);
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
        stereo_sample<3>(out, in, lgain, rgain);
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

// The blocks of tostereo_fragment (core/mix_frame.h) for the gains of one
// call, with the clamps that the gains need.
template <int WideLanes>
struct StereoBlocks {
    double lgain, rgain;

    template <typename WidthTag>
    std::size_t operator()(WidthTag, unsigned char *out, const unsigned char *in,
                           std::size_t end) const {
        constexpr int W = WidthTag::value;
        // A finite gain gives no NaN product (an overflow saturates), so every
        // result lies within the limits and the packs keep it as it is.
        if (W <= 2 && !(__builtin_isfinite(lgain) && __builtin_isfinite(rgain)))
            return tostereo_blocks<W, WideLanes, true, true, true>(out, in, end, lgain, rgain);
        const bool left = needs_clamp<W>(lgain);
        const bool right = needs_clamp<W>(rgain);
        if (left && right) return tostereo_blocks<W, WideLanes, true, true>(out, in, end, lgain, rgain);
        if (left) return tostereo_blocks<W, WideLanes, true, false>(out, in, end, lgain, rgain);
        if (right) return tostereo_blocks<W, WideLanes, false, true>(out, in, end, lgain, rgain);
        return tostereo_blocks<W, WideLanes, false, false>(out, in, end, lgain, rgain);
    }
};

}  // namespace
}  // namespace samplekit::x86
