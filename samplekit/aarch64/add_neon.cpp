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

#include "aarch64/bytes.h"
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
        for (; end - i >= 48; i += 48) {
            const uint8x16x3_t x = vld1q_u8_x3(a + i), y = vld1q_u8_x3(b + i);
            const uint8x16_t s0 = saturated_sum<4>(vqtbl3q_u8(x, spread0), vqtbl3q_u8(y, spread0));
            const uint8x16_t s1 = saturated_sum<4>(vqtbl3q_u8(x, spread1), vqtbl3q_u8(y, spread1));
            const uint8x16_t s2 = saturated_sum<4>(vqtbl3q_u8(x, spread2), vqtbl3q_u8(y, spread2));
            const uint8x16_t s3 = saturated_sum<4>(vqtbl3q_u8(x, spread3), vqtbl3q_u8(y, spread3));
            store_top_bytes24(out + i, s0, s1, s2, s3);
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
