// Mixing of two fragments with Advanced SIMD at every width. Widths 1, 2 and
// 4 add in lanes of their own size, where the saturating addition is the
// width's saturation (at width 4 it equals the 64-bit sum clamped). Width 3
// moves each sample into the top three bytes of a 32-bit lane, low byte zero,
// where the 32-bit saturation is the 24-bit one, and packs the top bytes back.
// Blocks only read bytes inside the caller's buffers; the samples after the
// last whole block go through the plain form.
#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

#include "aarch64/tables.h"
#include "core/mix_frame.h"

namespace samplekit::aarch64 {
namespace {

template <int W>
[[gnu::always_inline]] inline uint8x16_t saturated_sum(uint8x16_t x, uint8x16_t y) {
    if constexpr (W == 1) {
        return vreinterpretq_u8_s8(vqaddq_s8(vreinterpretq_s8_u8(x), vreinterpretq_s8_u8(y)));
    } else if constexpr (W == 2) {
        return vreinterpretq_u8_s16(
            vqaddq_s16(vreinterpretq_s16_u8(x), vreinterpretq_s16_u8(y)));
    } else {
        return vreinterpretq_u8_s32(
            vqaddq_s32(vreinterpretq_s32_u8(x), vreinterpretq_s32_u8(y)));
    }
}

// Sample 4 * r + k of a 48-byte block into lane k of lane register r, as bytes
// 1 to 3; index 0xFF is outside the table and gives the zero low byte.
alignas(16) constexpr std::uint8_t kSpread24[4][16] = {
    {0xFF, 0, 1, 2, 0xFF, 3, 4, 5, 0xFF, 6, 7, 8, 0xFF, 9, 10, 11},
    {0xFF, 12, 13, 14, 0xFF, 15, 16, 17, 0xFF, 18, 19, 20, 0xFF, 21, 22, 23},
    {0xFF, 24, 25, 26, 0xFF, 27, 28, 29, 0xFF, 30, 31, 32, 0xFF, 33, 34, 35},
    {0xFF, 36, 37, 38, 0xFF, 39, 40, 41, 0xFF, 42, 43, 44, 0xFF, 45, 46, 47}};

// And back, each output register from two neighbouring lane registers: byte
// b of sample j is byte 4 * j + 1 + b of the lanes, less 16 for the second
// register of the pair.
alignas(16) constexpr std::uint8_t kPack24[3][16] = {
    {1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, 17, 18, 19, 21},
    {6, 7, 9, 10, 11, 13, 14, 15, 17, 18, 19, 21, 22, 23, 25, 26},
    {11, 13, 14, 15, 17, 18, 19, 21, 22, 23, 25, 26, 27, 29, 30, 31}};

// Adds the whole blocks of W-byte samples in [0, end); returns the offset of
// the first sample left. Both inputs of a block are loaded before its output
// is stored, so out may be either input.
template <int W>
std::size_t add_blocks(unsigned char *out, const unsigned char *a, const unsigned char *b,
                       std::size_t end) {
    std::size_t i = 0;
    if constexpr (W == 3) {
        const uint8x16_t spread0 = vld1q_u8(kSpread24[0]), spread1 = vld1q_u8(kSpread24[1]),
                         spread2 = vld1q_u8(kSpread24[2]), spread3 = vld1q_u8(kSpread24[3]);
        const uint8x16_t pack0 = vld1q_u8(kPack24[0]), pack1 = vld1q_u8(kPack24[1]),
                         pack2 = vld1q_u8(kPack24[2]);
        for (; end - i >= 48; i += 48) {
            const uint8x16x3_t x = vld1q_u8_x3(a + i), y = vld1q_u8_x3(b + i);
            const uint8x16_t s0 = saturated_sum<4>(vqtbl3q_u8(x, spread0), vqtbl3q_u8(y, spread0));
            const uint8x16_t s1 = saturated_sum<4>(vqtbl3q_u8(x, spread1), vqtbl3q_u8(y, spread1));
            const uint8x16_t s2 = saturated_sum<4>(vqtbl3q_u8(x, spread2), vqtbl3q_u8(y, spread2));
            const uint8x16_t s3 = saturated_sum<4>(vqtbl3q_u8(x, spread3), vqtbl3q_u8(y, spread3));
            vst1q_u8(out + i, vqtbl2q_u8(uint8x16x2_t{{s0, s1}}, pack0));
            vst1q_u8(out + i + 16, vqtbl2q_u8(uint8x16x2_t{{s1, s2}}, pack1));
            vst1q_u8(out + i + 32, vqtbl2q_u8(uint8x16x2_t{{s2, s3}}, pack2));
        }
    } else {
        // Four registers a turn, which the loads and stores take in pairs.
        for (; end - i >= 64; i += 64) {
            const uint8x16_t x0 = vld1q_u8(a + i), x1 = vld1q_u8(a + i + 16),
                             x2 = vld1q_u8(a + i + 32), x3 = vld1q_u8(a + i + 48);
            const uint8x16_t y0 = vld1q_u8(b + i), y1 = vld1q_u8(b + i + 16),
                             y2 = vld1q_u8(b + i + 32), y3 = vld1q_u8(b + i + 48);
            vst1q_u8(out + i, saturated_sum<W>(x0, y0));
            vst1q_u8(out + i + 16, saturated_sum<W>(x1, y1));
            vst1q_u8(out + i + 32, saturated_sum<W>(x2, y2));
            vst1q_u8(out + i + 48, saturated_sum<W>(x3, y3));
        }
        for (; end - i >= 16; i += 16)
            vst1q_u8(out + i, saturated_sum<W>(vld1q_u8(a + i), vld1q_u8(b + i)));
    }
    return i;
}

}  // namespace
}  // namespace samplekit::aarch64

// Only whole samples are handled: a tail of len shorter than one sample is
// neither read nor written, and a width outside 1 to 4 stores nothing.
void samplekit::aarch64::neon::add(char *out, char *frag1, char *frag2, std::size_t len,
                                   int width) {
    add_fragments(out, frag1, frag2, len, width, [](auto w, auto &&...args) {
        return add_blocks<decltype(w)::value>(args...);
    });
}
