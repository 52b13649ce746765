// Sample-rate conversion of interleaved fragments, for any register of
// doubles: a one-pole smoothing filter per channel, then linear interpolation
// between the two newest filtered frames. The phase and both per-channel
// arrays belong to the caller and carry a stream from one call to the next.
//
// Time runs in ticks of the reduced rates: an input frame lasts rate_out'
// ticks, an output frame rate_in' ticks. The phase d says how far the next
// output instant lies before the newest input frame; while it is negative
// another input frame is read, while it is zero or positive a frame is written.
//
// The channels of a frame lie side by side in the lanes of registers of
// doubles, up to eight channels whose filter state stays in registers for the
// whole call; more channels are converted eight at a time, each group over
// the whole input. Every lane does the plain form's operations in its order,
// so every lane rounds as the plain form does.
//
// Samples move between memory and 32-bit lanes four channels at a time (a
// quad), reading and writing exactly the bytes of each frame. DoubleLanes<L>
// (x86/doubles.h) gives the registers of doubles, two (SSE2) or four (AVX) to
// a register.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "core/ratecv_frame.h"
#include "x86/doubles.h"

namespace samplekit::x86 {
namespace {

// Runs f(std::integral_constant<int, I>{}) for I = 0 .. N-1 in order, so
// that the per-channel work is laid out without a loop.
template <typename F, int... I>
inline void each_of(std::integer_sequence<int, I...>, F &&f) {
    (f(std::integral_constant<int, I>{}), ...);
}
template <int N, typename F>
inline void each(F &&f) {
    each_of(std::make_integer_sequence<int, N>{}, f);
}

// --- the bytes of a frame ------------------------------------------------------

// S bytes of a frame of B bytes, from byte O, in the low bytes of a
// register (the bytes above them are unspecified). Only the frame's bytes are
// read: a load that would pass its end starts earlier and is shifted back.
template <int O, int S, int B>
__m128i load_span(const unsigned char *frame) {
    static_assert(O >= 0 && S >= 1 && S <= 16 && O + S <= B);
    constexpr int Z = (S <= 4 && B >= 4) ? 4 : (S <= 8 && B >= 8) ? 8 : B >= 16 ? 16 : 0;
    if constexpr (Z != 0) {
        constexpr int L = O < B - Z ? O : B - Z;
        __m128i r;
        if constexpr (Z == 4) {
            std::int32_t bits;
            std::memcpy(&bits, frame + L, 4);
            r = _mm_cvtsi32_si128(bits);
        } else if constexpr (Z == 8) {
            r = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(frame + L));
        } else {
            r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(frame + L));
        }
        if constexpr (O > L) r = _mm_srli_si128(r, O - L);
        return r;
    } else if constexpr (B >= 8) {   // 8 < S < B < 16: two loads that overlap
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(frame + O));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(frame + O + S - 8));
        return _mm_or_si128(a, _mm_slli_si128(b, S - 8));
    } else if constexpr (B >= 4) {   // 4 < S <= B < 8
        std::int32_t a, b;
        std::memcpy(&a, frame + O, 4);
        std::memcpy(&b, frame + O + S - 4, 4);
        return _mm_or_si128(_mm_cvtsi32_si128(a), _mm_slli_si128(_mm_cvtsi32_si128(b), S - 4));
    } else {   // a frame of 3 bytes or less
        std::uint32_t bits = frame[O];
        if constexpr (S >= 2) bits |= std::uint32_t{frame[O + 1]} << 8;
        if constexpr (S >= 3) bits |= std::uint32_t{frame[O + 2]} << 16;
        return _mm_cvtsi32_si128(static_cast<std::int32_t>(bits));
    }
}

// Stores the low S bytes of r, and nothing else.
template <int S>
void store_span(unsigned char *p, __m128i r) {
    static_assert(S >= 1 && S <= 16);
    auto store_4 = [](unsigned char *at, __m128i v) {
        const std::int32_t bits = _mm_cvtsi128_si32(v);
        std::memcpy(at, &bits, 4);
    };
    if constexpr (S == 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), r);
    } else if constexpr (S >= 8) {   // two stores that overlap
        _mm_storel_epi64(reinterpret_cast<__m128i *>(p), r);
        if constexpr (S > 8)
            _mm_storel_epi64(reinterpret_cast<__m128i *>(p + S - 8), _mm_srli_si128(r, S - 8));
    } else if constexpr (S >= 4) {
        store_4(p, r);
        if constexpr (S > 4) store_4(p + S - 4, _mm_srli_si128(r, S - 4));
    } else {
        // The first two bytes in one store: byte stores would take the
        // second from a high-byte register, which is slow.
        const auto bits = static_cast<std::uint32_t>(_mm_cvtsi128_si32(r));
        if constexpr (S >= 2) {
            const auto low = static_cast<std::uint16_t>(bits);
            std::memcpy(p, &low, 2);
        } else {
            p[0] = static_cast<unsigned char>(bits);
        }
        if constexpr (S == 3) p[2] = static_cast<unsigned char>(bits >> 16);
    }
}

// Quad G of a frame of C samples of width W: lanes 4G to 4G+3 at the 32-bit
// scale (native value << (32 - 8W)); lanes past the frame's end are
// unspecified whole numbers.
template <int W, int C, int G>
__m128i load_quad(const unsigned char *frame) {
    constexpr int n = C - 4 * G < 4 ? C - 4 * G : 4;
    constexpr int O = 4 * G * W, B = C * W;
    const __m128i zero = _mm_setzero_si128();
    if constexpr (C == 1) {
        return _mm_cvtsi32_si128(load32<W>(frame));
    } else if constexpr (W == 1) {
        const __m128i bytes = load_span<O, n, B>(frame);
        return _mm_unpacklo_epi16(zero, _mm_unpacklo_epi8(zero, bytes));
    } else if constexpr (W == 2) {
        return _mm_unpacklo_epi16(zero, load_span<O, 2 * n, B>(frame));
    } else if constexpr (W == 3) {
        // Two samples to a 64-bit half: the first moves up by a byte within
        // its lane, the second up by two bytes into the next lane, which
        // brings in a byte of the first: masked away.
        __m128i r = load_span<O, 3 * n, B>(frame);
        if constexpr (n > 2) r = _mm_unpacklo_epi64(r, _mm_srli_si128(r, 6));
        const __m128i first = _mm_and_si128(_mm_slli_epi32(r, 8), _mm_set_epi32(0, -1, 0, -1));
        if constexpr (n == 1) return first;
        const __m128i second = _mm_and_si128(_mm_slli_epi64(r, 16), _mm_set_epi32(-256, 0, -256, 0));
        return _mm_or_si128(first, second);
    } else {
        return load_span<O, 4 * n, B>(frame);
    }
}

// Writes the C samples of width W of a frame from quads of truncated values
// at the 32-bit scale (arithmetic shift back to the width), exactly the
// frame's bytes.
template <int W, int C, std::size_t Q>
void store_frame(unsigned char *frame, const __m128i (&q)[Q]) {
    constexpr int B = C * W;
    if constexpr (C == 1) {
        store_span<W>(frame, W == 4 ? q[0] : _mm_srai_epi32(q[0], 32 - 8 * W));
    } else if constexpr (W == 1 || W == 2) {
        // After the shift every lane fits the width: the packs keep it.
        constexpr int shift = 32 - 8 * W;
        const __m128i low = _mm_srai_epi32(q[0], shift);
        const __m128i high = Q > 1 ? _mm_srai_epi32(q[Q - 1], shift) : low;
        __m128i words = _mm_packs_epi32(low, high);
        if constexpr (W == 1) words = _mm_packs_epi16(words, words);
        store_span<B>(frame, words);
    } else {
        each<static_cast<int>(Q)>([&](auto g) {
            constexpr int G = decltype(g)::value;
            constexpr int n = C - 4 * G < 4 ? C - 4 * G : 4;
            if constexpr (W == 4) {
                store_span<4 * n>(frame + 16 * G, q[G]);
            } else {
                // The top three bytes of each lane, side by side: within
                // each 64-bit half, then the upper half down by two bytes.
                const __m128i t = _mm_srli_epi32(q[G], 8);
                const __m128i halves = _mm_or_si128(
                    _mm_and_si128(t, _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF)),
                    _mm_and_si128(_mm_srli_epi64(t, 8),
                                  _mm_set_epi32(0xFFFF, -16777216, 0xFFFF, -16777216)));
                __m128i bytes = halves;
                if constexpr (n > 2)
                    bytes = _mm_or_si128(
                        _mm_and_si128(halves, _mm_set_epi32(0, 0, 0xFFFF, -1)),
                        _mm_and_si128(_mm_srli_si128(halves, 2), _mm_set_epi32(0, -1, -65536, 0)));
                store_span<3 * n>(frame + 12 * G, bytes);
            }
        });
    }
}

// --- the converter -------------------------------------------------------------

// The filter's constants. When the weights add up to a power of two (weights
// 1 and 1, say), dividing by their sum and multiplying by its inverse give
// the same bits, and the multiplication is much shorter in the filter's chain
// from frame to frame.
template <typename D>
struct FilterTerms {
    using V = typename D::V;
    V wn, wp, weight_sum, inverse_sum;
    bool sum_is_power_of_two;

    FilterTerms(int weight_new, int weight_prev) {
        const auto sum = static_cast<std::uint64_t>(weight_new) +
                         static_cast<std::uint64_t>(weight_prev);
        const double sum_d = static_cast<double>(weight_new) + weight_prev;
        wn = D::broadcast(weight_new);
        wp = D::broadcast(weight_prev);
        weight_sum = D::broadcast(sum_d);
        inverse_sum = D::broadcast(1.0 / sum_d);
        sum_is_power_of_two = (sum & (sum - 1)) == 0;
    }

    // The new filtered value from the sample x and the current one. A
    // weighted mean of two ints stays within [-2^31, 2^31) after its
    // roundings, so its truncation needs no clamp.
    template <Filter Mode>
    V filtered(V x, V current) const {
        if constexpr (Mode == Filter::copy) {
            return x;
        } else if constexpr (Mode == Filter::hold) {
            return current;
        } else {
            const V sum = D::plus(D::times(wn, x), D::times(wp, current));
            return D::whole(sum_is_power_of_two ? D::times(sum, inverse_sum)
                                                : D::over(sum, weight_sum));
        }
    }
};

// C channels in registers of doubles and in quads.
template <typename D, int C>
struct Shape {
    static constexpr int N = (C + D::lanes - 1) / D::lanes, Q = (C + 3) / 4;
    static constexpr auto registers = static_cast<std::size_t>(N);
    static constexpr auto quads = static_cast<std::size_t>(Q);
};

// Runs the two stages over channels first to first + C - 1 (C of 1 to 8)
// until the input is used up; returns the final phase.
template <typename D, int W, Filter Mode, int C>
int convert_channels(const Conversion &c, std::size_t first) {
    using V = typename D::V;
    using S = Shape<D, C>;
    constexpr int N = S::N, Q = S::Q;
    // The record's fields as locals: the stores through out and the arrays
    // could otherwise alias them and force a reload after each.
    const int rate_in = c.rate_in, rate_out = c.rate_out;
    const std::size_t frame = c.channels * W;
    const FilterTerms<D> t(c.weight_new, c.weight_prev);
    const V ticks = D::broadcast(rate_out);
    const V int_max = D::broadcast(2147483647.0);
    // Frame by frame, the group's samples first * W bytes in; the pointers
    // stay at frame starts, within the caller's buffers.
    const std::size_t offset = first * W;
    const unsigned char *frag = c.frag;
    unsigned char *out = c.out;
    std::size_t n = c.nframes;
    int d = c.phase;

    // The carried state, as doubles.
    using State = V[S::registers];
    State prev, cur;
    auto load_state = [&](const int *array, State &v) {
        alignas(16) std::int32_t ints[4 * S::quads] = {};
        std::memcpy(ints, array + first, sizeof ints[0] * C);
        each<N>([&](auto i) {
            constexpr int I = decltype(i)::value;
            const __m128i q = _mm_load_si128(reinterpret_cast<const __m128i *>(ints) + I / D::per_quad);
            v[I] = D::template from_quad<I % D::per_quad>(q);
        });
    };
    load_state(c.previous, prev);
    load_state(c.current, cur);
    // Registers of doubles truncated toward zero, into quads.
    auto to_quads = [](const State &v, __m128i(&q)[S::quads]) {
        each<Q>([&](auto g) {
            constexpr int G = decltype(g)::value;
            if constexpr (D::per_quad == 1) q[G] = D::to_quad(v[G]);
            else if constexpr (2 * G + 1 < N) q[G] = D::to_quad(v[2 * G], v[2 * G + 1]);
            else q[G] = D::to_quad(v[2 * G]);
        });
    };

    // One output frame at phase d: (previous * d + current * (rate_out' - d))
    // / rate_out', truncated toward zero; older and newer are d and
    // rate_out' - d.
    auto write = [&](V older, V newer, auto clamp) {
        State v;
        each<N>([&](auto i) {
            constexpr int I = decltype(i)::value;
            v[I] = D::over(D::plus(D::times(prev[I], older), D::times(cur[I], newer)), ticks);
            if constexpr (decltype(clamp)::value) v[I] = D::minimum(v[I], int_max);
        });
        __m128i q[S::quads];
        to_quads(v, q);
        store_frame<W, C>(out + offset, q);
        out += frame;
    };

    // Before the first input frame a phase carried in from beyond rate_out'
    // extrapolates, and the conversion saturates instead of overflowing
    // (above the range the minimum gives INT32_MAX; below it the
    // conversion's out-of-range result is INT32_MIN). Once a frame is read d
    // lies in [0, rate_out'), every output is a weighted mean of two ints,
    // within range.
    while (d >= 0) {
        write(D::broadcast(d), D::broadcast(static_cast<double>(rate_out) - d),
              std::true_type{});
        d -= rate_in;   // d >= 0 here, so this cannot overflow
    }
    for (; n != 0; --n) {
        if constexpr (Mode == Filter::hold) {
            each<N>([&](auto i) { prev[decltype(i)::value] = cur[decltype(i)::value]; });
        } else {
            __m128i q[S::quads];
            each<Q>([&](auto g) {
                constexpr int G = decltype(g)::value;
                q[G] = load_quad<W, C, G>(frag + offset);
            });
            each<N>([&](auto i) {
                constexpr int I = decltype(i)::value;
                const V x = D::template from_quad<I % D::per_quad>(q[I / D::per_quad]);
                prev[I] = cur[I];
                cur[I] = t.template filtered<Mode>(x, cur[I]);
            });
        }
        frag += frame;
        d += rate_out;   // d < 0 here, so this cannot overflow
        while (d >= 0) {
            // Converted from d each time: steps of doubles would chain
            // every frame's writes to the previous frame's.
            const V older = D::broadcast(d);
            write(older, D::minus(ticks, older), std::false_type{});
            d -= rate_in;   // d >= 0 here, so this cannot overflow
        }
    }

    auto store_state = [&](const State &v, int *array) {
        __m128i q[S::quads];
        to_quads(v, q);   // whole numbers: exact
        std::memcpy(array + first, q, sizeof(std::int32_t) * C);
    };
    store_state(prev, c.previous);
    store_state(cur, c.current);
    return d;
}

// A whole call: channel counts up to 8 in one pass, in registers of Few
// for one or two channels and of Many for more; above 8, eight channels a
// pass and then the rest, every pass reaching the same final phase.
template <int W, Filter Mode, typename Few, typename Many>
int convert(const Conversion &c) {
    auto pass = [&c](std::size_t first, std::size_t count) {
        switch (count) {
        case 1: return convert_channels<Few, W, Mode, 1>(c, first);
        case 2: return convert_channels<Few, W, Mode, 2>(c, first);
        case 3: return convert_channels<Many, W, Mode, 3>(c, first);
        case 4: return convert_channels<Many, W, Mode, 4>(c, first);
        case 5: return convert_channels<Many, W, Mode, 5>(c, first);
        case 6: return convert_channels<Many, W, Mode, 6>(c, first);
        case 7: return convert_channels<Many, W, Mode, 7>(c, first);
        default: return convert_channels<Many, W, Mode, 8>(c, first);
        }
    };
    std::size_t first = 0;
    for (; c.channels - first > 8; first += 8) pass(first, 8);
    return pass(first, c.channels - first);
}

}  // namespace
}  // namespace samplekit::x86
