// Sample-rate conversion of interleaved fragments: a one-pole smoothing filter
// per channel, then linear interpolation between the two newest filtered
// frames. The phase and both per-channel arrays belong to the caller and carry
// a stream from one call to the next.
//
// Time runs in ticks of the reduced rates: an input frame lasts rate_out'
// ticks, an output frame rate_in' ticks. The phase d says how far the next
// output instant lies before the newest input frame; while it is negative
// another input frame is read, while it is zero or positive a frame is written.
//
// Channels go in groups of up to four, each group through the whole input on
// its own with its filter state in registers, two channels a register of
// doubles, with the operations of the plain form in the same order, so every
// lane rounds as the plain form does. A group's samples come in and go out
// with loads and stores of exactly its bytes, and a table lookup moves them
// between their bytes and the top of 32-bit lanes, the 32-bit scale.
#include <arm_neon.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "aarch64/tables.h"
#include "core/ratecv_frame.h"

namespace samplekit::aarch64 {
namespace {

// The N bytes at p in the low bytes of a register, the others zero, in loads
// of 8, 4, 2 and 1 bytes (N of 1 to 16).
template <std::size_t N>
[[gnu::always_inline]] inline uint8x16_t load_low(const unsigned char *p) {
    if constexpr (N == 16) {
        return vld1q_u8(p);
    } else {
        uint8x16_t v = vdupq_n_u8(0);
        if constexpr ((N & 8) != 0) {
            std::uint64_t x;
            std::memcpy(&x, p, 8);
            v = vreinterpretq_u8_u64(vsetq_lane_u64(x, vreinterpretq_u64_u8(v), 0));
        }
        if constexpr ((N & 4) != 0) {
            constexpr std::size_t at = N & 8;
            std::uint32_t x;
            std::memcpy(&x, p + at, 4);
            v = vreinterpretq_u8_u32(vsetq_lane_u32(x, vreinterpretq_u32_u8(v), at / 4));
        }
        if constexpr ((N & 2) != 0) {
            constexpr std::size_t at = N & 12;
            std::uint16_t x;
            std::memcpy(&x, p + at, 2);
            v = vreinterpretq_u8_u16(vsetq_lane_u16(x, vreinterpretq_u16_u8(v), at / 2));
        }
        if constexpr ((N & 1) != 0) v = vsetq_lane_u8(p[N & 14], v, N & 14);
        return v;
    }
}

// Stores the N low bytes of v at p.
template <std::size_t N>
[[gnu::always_inline]] inline void store_low(unsigned char *p, uint8x16_t v) {
    if constexpr (N == 16) {
        vst1q_u8(p, v);
    } else {
        if constexpr ((N & 8) != 0) {
            const std::uint64_t x = vgetq_lane_u64(vreinterpretq_u64_u8(v), 0);
            std::memcpy(p, &x, 8);
        }
        if constexpr ((N & 4) != 0) {
            constexpr std::size_t at = N & 8;
            const std::uint32_t x = vgetq_lane_u32(vreinterpretq_u32_u8(v), at / 4);
            std::memcpy(p + at, &x, 4);
        }
        if constexpr ((N & 2) != 0) {
            constexpr std::size_t at = N & 12;
            const std::uint16_t x = vgetq_lane_u16(vreinterpretq_u16_u8(v), at / 2);
            std::memcpy(p + at, &x, 2);
        }
        if constexpr ((N & 1) != 0) p[N & 14] = vgetq_lane_u8(v, N & 14);
    }
}

// Byte indices that take up to four W-byte samples, packed, to the top of
// 32-bit lanes (0xFF, outside the table, gives the zero low bytes), and back.
template <int W>
struct LaneBytes {
    uint8x16_t spread, pack;

    LaneBytes() {
        alignas(16) std::uint8_t to_lanes[16], from_lanes[16];
        for (int k = 0; k < 16; ++k) {
            const int lane = k / 4, byte = k % 4 - (4 - W);
            to_lanes[k] = byte < 0 ? 0xFF : static_cast<std::uint8_t>(lane * W + byte);
            from_lanes[k] = k < 4 * W ? static_cast<std::uint8_t>(k / W * 4 + 4 - W + k % W)
                                      : 0xFF;
        }
        spread = vld1q_u8(to_lanes);
        pack = vld1q_u8(from_lanes);
    }
};

// The filter and interpolation constants of one call, in both lanes.
struct Terms {
    float64x2_t wn, wp, weight_sum, inverse_sum, ticks, int32_max;

    Terms(int weight_new, int weight_prev, int rate_out)
        : wn(vdupq_n_f64(weight_new)), wp(vdupq_n_f64(weight_prev)),
          weight_sum(vdupq_n_f64(static_cast<double>(weight_new) + weight_prev)),
          inverse_sum(vdupq_n_f64(1.0 / (static_cast<double>(weight_new) + weight_prev))),
          ticks(vdupq_n_f64(rate_out)), int32_max(vdupq_n_f64(2147483647.0)) {}
};

// When the weights add up to a power of two (weights 1 and 1, say), dividing
// by their sum and multiplying by its inverse give the same bits, and the
// multiplication is much shorter in the filter's chain from frame to frame.
enum class Blend { divide, multiply };

// The new filtered value of each lane from the sample x (32-bit scale) and the
// lane's current value. The blend of two ints lies within [-2^31, 2^31] (the
// weights scale both bounds alike), so truncation with the upper bound
// lowered to INT32_MAX is truncate_to_int32.
template <Filter Mode, Blend B>
[[gnu::always_inline]] inline float64x2_t filtered(float64x2_t x, float64x2_t current,
                                                   const Terms &t) {
    if constexpr (Mode == Filter::copy) {
        return x;
    } else if constexpr (Mode == Filter::hold) {
        return current;
    } else {
        const float64x2_t sum = vaddq_f64(vmulq_f64(t.wn, x), vmulq_f64(t.wp, current));
        const float64x2_t v = B == Blend::multiply ? vmulq_f64(sum, t.inverse_sum)
                                                   : vdivq_f64(sum, t.weight_sum);
        return vrndq_f64(vminq_f64(v, t.int32_max));
    }
}

// Up to four int32 lanes as doubles, two a register. Samples of widths 1 to 3
// on the 32-bit scale have at most 24 significant bits: single precision
// holds them exactly on the way.
template <int W, int G>
[[gnu::always_inline]] inline void to_doubles(int32x4_t x, float64x2_t &low, float64x2_t &high) {
    if constexpr (W < 4) {
        const float32x4_t f = vcvtq_f32_s32(x);
        low = vcvt_f64_f32(vget_low_f32(f));
        if constexpr (G > 2) high = vcvt_high_f64_f32(f);
    } else {
        low = vcvtq_f64_s64(vmovl_s32(vget_low_s32(x)));
        if constexpr (G > 2) high = vcvtq_f64_s64(vmovl_high_s32(x));
    }
}

// The G ints of a carried array as doubles, and back (whole numbers within
// int).
template <int G>
[[gnu::always_inline]] inline void load_state(const int *p, float64x2_t &low, float64x2_t &high) {
    const int32x4_t x =
        vreinterpretq_s32_u8(load_low<4 * G>(reinterpret_cast<const unsigned char *>(p)));
    to_doubles<4, G>(x, low, high);
}

template <int G>
[[gnu::always_inline]] inline void store_state(int *p, float64x2_t low, float64x2_t high) {
    int32x4_t x = vcombine_s32(vmovn_s64(vcvtq_s64_f64(low)), vdup_n_s32(0));
    if constexpr (G > 2) x = vmovn_high_s64(vget_low_s32(x), vcvtq_s64_f64(high));
    store_low<4 * G>(reinterpret_cast<unsigned char *>(p), vreinterpretq_u8_s32(x));
}

// Channels [first, first + G) through the whole input, G of 1 to 4; returns
// the final phase, the same for every group.
template <int W, Filter Mode, Blend B, int G>
int convert_group(const Conversion &c, std::size_t first) {
    // The record's fields as locals: the stores through out and the arrays
    // could otherwise alias them and force a reload after each.
    const int rate_in = c.rate_in, rate_out = c.rate_out;
    const std::size_t frame = c.channels * W;
    const Terms t(c.weight_new, c.weight_prev, rate_out);
    const LaneBytes<W> bytes;
    int *const previous = c.previous + first;
    int *const current = c.current + first;
    // The group's bytes in the input and output frames as addresses: after
    // the last frame they lie beyond the buffers' ends, where a pointer may
    // not, and they become pointers only where a frame is there.
    std::uintptr_t frag = reinterpret_cast<std::uintptr_t>(c.frag) + first * W;
    std::uintptr_t out = reinterpret_cast<std::uintptr_t>(c.out) + first * W;
    std::size_t n = c.nframes;
    int d = c.phase;
    float64x2_t prev0, prev1{}, cur0, cur1{};
    load_state<G>(previous, prev0, prev1);
    load_state<G>(current, cur0, cur1);
    for (;;) {
        while (d < 0) {
            if (n == 0) {
                store_state<G>(previous, prev0, prev1);
                store_state<G>(current, cur0, cur1);
                return d;
            }
            const uint8x16_t in = load_low<G * W>(reinterpret_cast<const unsigned char *>(frag));
            float64x2_t x0, x1{};
            to_doubles<W, G>(vreinterpretq_s32_u8(W == 4 ? in : vqtbl1q_u8(in, bytes.spread)),
                             x0, x1);
            prev0 = cur0;
            cur0 = filtered<Mode, B>(x0, cur0, t);
            if constexpr (G > 2) {
                prev1 = cur1;
                cur1 = filtered<Mode, B>(x1, cur1, t);
            }
            frag += frame;
            --n;
            d += rate_out;   // d < 0 here, so this cannot overflow
        }
        while (d >= 0) {
            // A phase carried in from beyond rate_out' extrapolates; the
            // conversions saturate at 64 bits and the narrowing at 32, as
            // truncate_to_int32 does.
            const double older = d;
            const double newer = static_cast<double>(rate_out) - older;
            const float64x2_t v0 = vdivq_f64(
                vaddq_f64(vmulq_n_f64(prev0, older), vmulq_n_f64(cur0, newer)), t.ticks);
            int32x4_t v = vcombine_s32(vqmovn_s64(vcvtq_s64_f64(v0)), vdup_n_s32(0));
            if constexpr (G > 2) {
                const float64x2_t v1 = vdivq_f64(
                    vaddq_f64(vmulq_n_f64(prev1, older), vmulq_n_f64(cur1, newer)), t.ticks);
                v = vqmovn_high_s64(vget_low_s32(v), vcvtq_s64_f64(v1));
            }
            const uint8x16_t lanes = vreinterpretq_u8_s32(v);
            store_low<G * W>(reinterpret_cast<unsigned char *>(out),
                             W == 4 ? lanes : vqtbl1q_u8(lanes, bytes.pack));
            out += frame;
            d -= rate_in;   // d >= 0 here, so this cannot overflow
        }
    }
}

// Every channel, in groups of four and one group of the rest.
template <int W, Filter Mode, Blend B>
int convert(const Conversion &c) {
    std::size_t first = 0;
    for (; c.channels - first > 4; first += 4) convert_group<W, Mode, B, 4>(c, first);
    switch (c.channels - first) {
    case 1: return convert_group<W, Mode, B, 1>(c, first);
    case 2: return convert_group<W, Mode, B, 2>(c, first);
    case 3: return convert_group<W, Mode, B, 3>(c, first);
    default: return convert_group<W, Mode, B, 4>(c, first);
    }
}

}  // namespace
}  // namespace samplekit::aarch64

int samplekit::aarch64::neon::ratecv(char *out, char *frag, std::size_t nframes, int width,
                                     int channels, int rate_in, int rate_out, int *phase,
                                     int *previous, int *current, int weight_new,
                                     int weight_prev) {
    return ratecv_call(
        out, frag, nframes, width, channels, rate_in, rate_out, phase, previous, current,
        weight_new, weight_prev, [](auto w, auto mode, const Conversion &c) {
            constexpr int W = decltype(w)::value;
            constexpr Filter M = decltype(mode)::value;
            // With no frame to read and none due, the groups would only load
            // and store the arrays: the phase stays as it is.
            if (c.nframes == 0 && c.phase < 0) return c.phase;
            if constexpr (M == Filter::blend) {
                const auto sum = static_cast<std::uint64_t>(c.weight_new) +
                                 static_cast<std::uint64_t>(c.weight_prev);
                if ((sum & (sum - 1)) == 0) return convert<W, M, Blend::multiply>(c);
            }
            return convert<W, M, Blend::divide>(c);
        });
}
