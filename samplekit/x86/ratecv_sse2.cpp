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
// Channels are computed two at a time in the lanes of SSE2 doubles, with the
// operations of the plain form in the same order, so every lane rounds as
// the plain form does. Mono and stereo streams keep their filter state in
// registers for the whole call; other channel counts go through the caller's
// arrays a pair of channels at a time.
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "core/ratecv_frame.h"
#include "x86/tables.h"

namespace samplekit::x86 {
namespace {

// The filter and interpolation constants of one call, in both lanes. When
// the weights add up to a power of two (weights 1 and 1, say), dividing by
// their sum and multiplying by its inverse give the same bits, and the
// multiplication is much shorter in the filter's chain from frame to frame.
struct Terms {
    __m128d wn, wp, weight_sum, ticks, inverse_sum;
    bool sum_is_power_of_two;

    Terms(int weight_new, int weight_prev, int rate_out) {
        const auto sum = static_cast<std::uint64_t>(weight_new) +
                         static_cast<std::uint64_t>(weight_prev);
        const double sum_d = static_cast<double>(weight_new) + weight_prev;
        wn = _mm_set1_pd(weight_new);
        wp = _mm_set1_pd(weight_prev);
        weight_sum = _mm_set1_pd(sum_d);
        ticks = _mm_set1_pd(rate_out);
        inverse_sum = _mm_set1_pd(1.0 / sum_d);
        sum_is_power_of_two = (sum & (sum - 1)) == 0;
    }
};

// Truncation to int32 of values that are never NaN: above the range the
// minimum gives INT32_MAX, below it the conversion's out-of-range result is
// INT32_MIN, as truncate_to_int32 gives.
__m128i truncate_lanes(__m128d v) {
    return _mm_cvttpd_epi32(_mm_min_pd(v, _mm_set1_pd(2147483647.0)));
}

// The new filtered value of each lane from the sample x (32-bit scale) and
// the lane's current value, which becomes the previous one.
template <Filter Mode>
__m128d filtered(__m128d x, __m128d current, const Terms &t) {
    if constexpr (Mode == Filter::copy) {
        return x;
    } else if constexpr (Mode == Filter::hold) {
        return current;
    } else {
        const __m128d sum = _mm_add_pd(_mm_mul_pd(t.wn, x), _mm_mul_pd(t.wp, current));
        const __m128d v = t.sum_is_power_of_two ? _mm_mul_pd(sum, t.inverse_sum)
                                                : _mm_div_pd(sum, t.weight_sum);
        return _mm_cvtepi32_pd(truncate_lanes(v));
    }
}

// Lanes channels (1 or 2) samples of width W at p, on the 32-bit scale.
template <int W, int Lanes>
__m128d load_lanes(const unsigned char *p) {
    __m128i x = _mm_cvtsi32_si128(load32<W>(p));
    if constexpr (Lanes == 2)
        x = _mm_unpacklo_epi32(x, _mm_cvtsi32_si128(load32<W>(p + W)));
    return _mm_cvtepi32_pd(x);
}

template <int W, int Lanes>
void store_lanes(unsigned char *p, __m128i v) {
    store32<W>(p, _mm_cvtsi128_si32(v));
    if constexpr (Lanes == 2) store32<W>(p + W, _mm_cvtsi128_si32(_mm_srli_si128(v, 4)));
}

// Lanes ints of a carried array, and back.
template <int Lanes>
__m128d load_state(const int *p) {
    __m128i x = _mm_cvtsi32_si128(p[0]);
    if constexpr (Lanes == 2) x = _mm_unpacklo_epi32(x, _mm_cvtsi32_si128(p[1]));
    return _mm_cvtepi32_pd(x);
}

template <int Lanes>
void store_state(int *p, __m128d v) {
    const __m128i x = _mm_cvttpd_epi32(v);   // whole numbers within int
    p[0] = _mm_cvtsi128_si32(x);
    if constexpr (Lanes == 2) p[1] = _mm_cvtsi128_si32(_mm_srli_si128(x, 4));
}

// Calls f(c, lanes) for the channels of a frame two at a time, and for the
// last one alone when their count is odd (lanes a std::integral_constant of
// 2 or 1).
template <typename F>
void by_channel_pairs(std::size_t nchannels, F &&f) {
    std::size_t c = 0;
    for (; c + 2 <= nchannels; c += 2) f(c, std::integral_constant<int, 2>{});
    if (c < nchannels) f(c, std::integral_constant<int, 1>{});
}

// The output value of each lane at phase d: (previous * d + current *
// (rate_out' - d)) / rate_out'.
__m128i interpolated(__m128d previous, __m128d current, __m128d older, __m128d newer,
                     const Terms &t) {
    return truncate_lanes(
        _mm_div_pd(_mm_add_pd(_mm_mul_pd(previous, older), _mm_mul_pd(current, newer)),
                   t.ticks));
}

// Runs the two stages until the input is used up; returns the final phase.
// Lanes is the channel count when it is 1 or 2, with the state held in
// registers; with Lanes 0 any channel count goes through the arrays. Inlined
// into the dispatch: as a function of its own, GCC laid out its input loop a
// third slower (44.1 to 8 kHz, stereo).
template <int W, Filter Mode, int Lanes>
[[gnu::always_inline]] inline int convert(const Conversion &c) {
    // The record's fields as locals: the stores through out and the arrays
    // could otherwise alias them and force a reload after each.
    const int rate_in = c.rate_in, rate_out = c.rate_out;
    const std::size_t channels = c.channels, frame = channels * W;
    const Terms t(c.weight_new, c.weight_prev, rate_out);
    int *const previous = c.previous;
    int *const current = c.current;
    const unsigned char *frag = c.frag;
    unsigned char *out = c.out;
    std::size_t n = c.nframes;
    int d = c.phase;
    __m128d prev{}, cur{};
    if constexpr (Lanes != 0) {
        prev = load_state<Lanes>(previous);
        cur = load_state<Lanes>(current);
    }
    for (;;) {
        while (d < 0) {
            if (n == 0) {
                if constexpr (Lanes != 0) {
                    store_state<Lanes>(previous, prev);
                    store_state<Lanes>(current, cur);
                }
                return d;
            }
            if constexpr (Lanes != 0) {
                prev = cur;
                cur = filtered<Mode>(load_lanes<W, Lanes>(frag), cur, t);
            } else {
                by_channel_pairs(channels, [&](std::size_t ch, auto lanes) {
                    constexpr int L = decltype(lanes)::value;
                    const __m128d was = load_state<L>(current + ch);
                    store_state<L>(previous + ch, was);
                    store_state<L>(current + ch,
                                   filtered<Mode>(load_lanes<W, L>(frag + ch * W), was, t));
                });
            }
            frag += frame;
            --n;
            d += rate_out;   // d < 0 here, so this cannot overflow
        }
        while (d >= 0) {
            // A phase carried in from beyond rate_out' extrapolates; the
            // conversion saturates instead of overflowing.
            const __m128d newer = _mm_set1_pd(static_cast<double>(rate_out) - d);
            const __m128d older = _mm_set1_pd(d);
            if constexpr (Lanes != 0) {
                store_lanes<W, Lanes>(out, interpolated(prev, cur, older, newer, t));
            } else {
                by_channel_pairs(channels, [&](std::size_t ch, auto lanes) {
                    constexpr int L = decltype(lanes)::value;
                    store_lanes<W, L>(out + ch * W,
                                      interpolated(load_state<L>(previous + ch),
                                                   load_state<L>(current + ch), older, newer, t));
                });
            }
            out += frame;
            d -= rate_in;   // d >= 0 here, so this cannot overflow
        }
    }
}

}  // namespace
}  // namespace samplekit::x86

int samplekit::x86::sse2::ratecv(char *out, char *frag, std::size_t nframes, int width,
                                 int channels, int rate_in, int rate_out, int *phase,
                                 int *previous, int *current, int weight_new,
                                 int weight_prev) {
    return ratecv_call(out, frag, nframes, width, channels, rate_in, rate_out, phase,
                       previous, current, weight_new, weight_prev,
                       [](auto w, auto mode, const Conversion &c) {
                           constexpr int W = decltype(w)::value;
                           constexpr Filter M = decltype(mode)::value;
                           if (c.channels == 1) return convert<W, M, 1>(c);
                           if (c.channels == 2) return convert<W, M, 2>(c);
                           return convert<W, M, 0>(c);
                       });
}
