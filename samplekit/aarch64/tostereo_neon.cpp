// Expansion of a mono fragment to stereo with Advanced SIMD at every width:
// samples widened to doubles, two a register, multiplied by each gain,
// truncated toward zero into 64-bit lanes and narrowed with saturation, so
// that the narrowing is the width's upper and lower limit; the interleaving
// stores put left before right. Widths 1 to 3 go through single precision on
// the way to double, which holds their samples exactly. A block only reads
// bytes inside the caller's buffer; the samples after the last whole block go
// through the plain form.
#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

#include "aarch64/bytes.h"
#include "aarch64/tables.h"
#include "core/mix_frame.h"

namespace samplekit::aarch64 {
namespace {

// Whether a gain can carry a sample of width W past a limit: with
// |gain| * 2^(8W-1) <= max no product does (its rounding is monotonic and max
// is a double), and the clamp is left out for that side.
template <int W>
bool needs_clamp(double gain) {
    return !(__builtin_fabs(gain) * -static_cast<double>(sample_min[W]) <= sample_max[W]);
}

// clamp_to_range for the products of one call. The conversion to 64 bits
// truncates, saturates far beyond the 32-bit range and gives 0 for a NaN;
// the narrowing that follows saturates at the width's limits. What is left
// is "below min + 1 gives min": at widths 1 to 3 a saturating -1 there takes
// min + 1 down to min (a NaN stays 0, the low bytes of INT32_MIN), and at
// width 4 such products and NaN take INT32_MIN itself.
template <int W, bool ClampLeft, bool ClampRight>
struct Scaling {
    float64x2_t left, right, min_plus_one;
    int64x2_t int32_min;

    Scaling(double lgain, double rgain)
        : left(vdupq_n_f64(lgain)), right(vdupq_n_f64(rgain)),
          min_plus_one(vdupq_n_f64(sample_min[W] + 1.0)), int32_min(vdupq_n_s64(INT32_MIN)) {}

    template <bool Clamp>
    [[gnu::always_inline]] int64x2_t scaled(float64x2_t v, float64x2_t gain) const {
        const float64x2_t p = vmulq_f64(v, gain);
        const int64x2_t t = vcvtq_s64_f64(p);
        if constexpr (!Clamp) return t;
        else if constexpr (W == 4) return vbslq_s64(vcgeq_f64(p, min_plus_one), t, int32_min);
        else return vqaddq_s64(t, vreinterpretq_s64_u64(vcltq_f64(p, min_plus_one)));
    }

    // Left and right results of four samples, saturated to 32 bits.
    [[gnu::always_inline]] void expand(float64x2_t v0, float64x2_t v1, int32x4_t &l,
                                       int32x4_t &r) const {
        l = vqmovn_high_s64(vqmovn_s64(scaled<ClampLeft>(v0, left)), scaled<ClampLeft>(v1, left));
        r = vqmovn_high_s64(vqmovn_s64(scaled<ClampRight>(v0, right)),
                            scaled<ClampRight>(v1, right));
    }

    // The same from four samples of widths 1 to 3 held exactly in single
    // precision.
    [[gnu::always_inline]] void expand(float32x4_t f, int32x4_t &l, int32x4_t &r) const {
        expand(vcvt_f64_f32(vget_low_f32(f)), vcvt_high_f64_f32(f), l, r);
    }

    // Eight 24-bit samples in the top bytes of the lanes of two registers:
    // converted as fixed point with 8 fraction bits they are their value, and
    // shifted back up with saturation the results are clamped to 24 bits.
    // Interleaved, the lanes go to p as three bytes each.
    [[gnu::always_inline]] void expand24(unsigned char *p, uint8x16_t lanes0,
                                         uint8x16_t lanes1) const {
        int32x4_t l0, r0, l1, r1;
        expand(vcvtq_n_f32_s32(vreinterpretq_s32_u8(lanes0), 8), l0, r0);
        expand(vcvtq_n_f32_s32(vreinterpretq_s32_u8(lanes1), 8), l1, r1);
        l0 = vqshlq_n_s32(l0, 8);
        r0 = vqshlq_n_s32(r0, 8);
        l1 = vqshlq_n_s32(l1, 8);
        r1 = vqshlq_n_s32(r1, 8);
        store_top_bytes24(p, vreinterpretq_u8_s32(vzip1q_s32(l0, r0)),
                          vreinterpretq_u8_s32(vzip2q_s32(l0, r0)),
                          vreinterpretq_u8_s32(vzip1q_s32(l1, r1)),
                          vreinterpretq_u8_s32(vzip2q_s32(l1, r1)));
    }
};

template <int W, bool ClampLeft, bool ClampRight>
std::size_t tostereo_blocks(unsigned char *out, const unsigned char *in, std::size_t end,
                            double lgain, double rgain) {
    const Scaling<W, ClampLeft, ClampRight> s(lgain, rgain);
    std::size_t i = 0;
    if constexpr (W == 1) {
        int32x4_t l0, r0, l1, r1, l2, r2, l3, r3;
        for (; end - i >= 16; i += 16) {
            const int8x16_t x = vreinterpretq_s8_u8(vld1q_u8(in + i));
            const int16x8_t low = vmovl_s8(vget_low_s8(x)), high = vmovl_high_s8(x);
            s.expand(vcvtq_f32_s32(vmovl_s16(vget_low_s16(low))), l0, r0);
            s.expand(vcvtq_f32_s32(vmovl_high_s16(low)), l1, r1);
            s.expand(vcvtq_f32_s32(vmovl_s16(vget_low_s16(high))), l2, r2);
            s.expand(vcvtq_f32_s32(vmovl_high_s16(high)), l3, r3);
            const int8x16_t left = vqmovn_high_s16(vqmovn_s16(vqmovn_high_s32(vqmovn_s32(l0), l1)),
                                                   vqmovn_high_s32(vqmovn_s32(l2), l3));
            const int8x16_t right = vqmovn_high_s16(vqmovn_s16(vqmovn_high_s32(vqmovn_s32(r0), r1)),
                                                    vqmovn_high_s32(vqmovn_s32(r2), r3));
            vst2q_u8(out + 2 * i, uint8x16x2_t{{vreinterpretq_u8_s8(left),
                                                vreinterpretq_u8_s8(right)}});
        }
    } else if constexpr (W == 2) {
        int32x4_t l0, r0, l1, r1;
        for (; end - i >= 16; i += 16) {
            const int16x8_t x = vreinterpretq_s16_u8(vld1q_u8(in + i));
            s.expand(vcvtq_f32_s32(vmovl_s16(vget_low_s16(x))), l0, r0);
            s.expand(vcvtq_f32_s32(vmovl_high_s16(x)), l1, r1);
            const int16x8_t left = vqmovn_high_s32(vqmovn_s32(l0), l1);
            const int16x8_t right = vqmovn_high_s32(vqmovn_s32(r0), r1);
            vst2q_s16(reinterpret_cast<std::int16_t *>(out + 2 * i), int16x8x2_t{{left, right}});
        }
    } else if constexpr (W == 3) {
        // Sixteen samples a turn, each in the top bytes of a 32-bit lane.
        const uint8x16_t spread0 = vld1q_u8(kSpread24[0]), spread1 = vld1q_u8(kSpread24[1]),
                         spread2 = vld1q_u8(kSpread24[2]), spread3 = vld1q_u8(kSpread24[3]);
        for (; end - i >= 48; i += 48) {
            const uint8x16x3_t x = vld1q_u8_x3(in + i);
            s.expand24(out + 2 * i, vqtbl3q_u8(x, spread0), vqtbl3q_u8(x, spread1));
            s.expand24(out + 2 * i + 48, vqtbl3q_u8(x, spread2), vqtbl3q_u8(x, spread3));
        }
    } else {
        int32x4_t l0, r0, l1, r1;
        for (; end - i >= 32; i += 32) {
            const int32x4_t x0 = vreinterpretq_s32_u8(vld1q_u8(in + i));
            const int32x4_t x1 = vreinterpretq_s32_u8(vld1q_u8(in + i + 16));
            s.expand(vcvtq_f64_s64(vmovl_s32(vget_low_s32(x0))), vcvtq_f64_s64(vmovl_high_s32(x0)),
                     l0, r0);
            s.expand(vcvtq_f64_s64(vmovl_s32(vget_low_s32(x1))), vcvtq_f64_s64(vmovl_high_s32(x1)),
                     l1, r1);
            vst2q_s32(reinterpret_cast<std::int32_t *>(out + 2 * i), int32x4x2_t{{l0, r0}});
            vst2q_s32(reinterpret_cast<std::int32_t *>(out + 2 * i + 32), int32x4x2_t{{l1, r1}});
        }
    }
    return i;
}

}  // namespace
}  // namespace samplekit::aarch64

// Writes 2 * (whole samples of len) * width bytes, left sample first; a
// partial trailing sample and a width outside 1 to 4 store nothing. A product
// that is not a number (a NaN gain, or an infinite gain times a zero sample)
// stores the low bytes of INT32_MIN, as the plain form does: zeros at widths
// 1 to 3 and INT32_MIN at width 4.
void samplekit::aarch64::neon::tostereo(char *out, char *frag, std::size_t len, int width,
                                        double lgain, double rgain) {
    tostereo_fragment(out, frag, len, width, lgain, rgain,
                      [lgain, rgain](auto w, unsigned char *dst, const unsigned char *src,
                                     std::size_t end) {
                          constexpr int W = decltype(w)::value;
                          const bool left = needs_clamp<W>(lgain), right = needs_clamp<W>(rgain);
                          if (left && right)
                              return tostereo_blocks<W, true, true>(dst, src, end, lgain, rgain);
                          if (left)
                              return tostereo_blocks<W, true, false>(dst, src, end, lgain, rgain);
                          if (right)
                              return tostereo_blocks<W, false, true>(dst, src, end, lgain, rgain);
                          return tostereo_blocks<W, false, false>(dst, src, end, lgain, rgain);
                      });
}
