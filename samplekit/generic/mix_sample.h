// One sample of add and of tostereo on the native scale, saturated at the
// width's limits: the plain forms, and the tails of the vector kernels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sample_layout.h"

namespace samplekit {

// Sum of two native samples of width W, saturated to the width's limits.
template <int W>
inline std::int32_t saturated_sum(std::int32_t x, std::int32_t y) {
    constexpr std::int32_t min = sample_min[W];
    constexpr std::int32_t max = sample_max[W];
    if constexpr (W < 4) {
        // |x + y| <= 2^24: no overflow in 32 bits.
        std::int32_t s = x + y;
        if (s > max) s = max;
        else if (s < min) s = min;
        return s;
    } else {
        // The 33-bit sum is exact in 64 bits. For whole numbers, "below
        // min + 1 gives min" is "at most min gives min", so this matches
        // clamp_to_range on the exact double sum bit for bit.
        std::int64_t s = std::int64_t{x} + y;
        if (s > max) s = max;
        else if (s < min) s = min;
        return static_cast<std::int32_t>(s);
    }
}

// Adds the samples at a and b into out.
template <int W>
inline void add_sample(unsigned char *out, const unsigned char *a,
                       const unsigned char *b) {
    const std::int32_t x = load_native<W>(a);
    const std::int32_t y = load_native<W>(b);
    store_native<W>(out, saturated_sum<W>(x, y));
}

// Expands the sample at in into a left and a right sample at out.
template <int W>
inline void stereo_sample(unsigned char *out, const unsigned char *in,
                          double lgain, double rgain) {
    constexpr double min = sample_min[W];
    constexpr double max = sample_max[W];
    const double v = load_native<W>(in);
    store_native<W>(out, clamp_to_range(v * lgain, min, max));
    store_native<W>(out + W, clamp_to_range(v * rgain, min, max));
}

// add over the whole samples of len: blocks(width_tag, out, a, b, end) does
// what it can from the start and returns the offset where it stopped; the
// rest goes one sample at a time. A tail of len shorter than one sample is
// neither read nor written, and a width outside 1 to 4 stores nothing.
template <typename Blocks>
inline void add_fragments(char *out, char *frag1, char *frag2, std::size_t len, int width,
                          Blocks &&blocks) {
    auto *dst = reinterpret_cast<unsigned char *>(out);
    const auto *a = reinterpret_cast<const unsigned char *>(frag1);
    const auto *b = reinterpret_cast<const unsigned char *>(frag2);
    dispatch_width(width, [&](auto w) {
        constexpr int W = decltype(w)::value;
        const std::size_t end = len / W * W;
        for (std::size_t i = blocks(w, dst, a, b, end); i < end; i += W)
            add_sample<W>(dst + i, a + i, b + i);
    });
}

// tostereo over the whole samples of len, in the same way.
template <typename Blocks>
inline void tostereo_fragment(char *out, char *frag, std::size_t len, int width,
                              double lgain, double rgain, Blocks &&blocks) {
    auto *dst = reinterpret_cast<unsigned char *>(out);
    const auto *src = reinterpret_cast<const unsigned char *>(frag);
    dispatch_width(width, [&](auto w) {
        constexpr int W = decltype(w)::value;
        const std::size_t end = len / W * W;
        for (std::size_t i = blocks(w, dst, src, end); i < end; i += W)
            stereo_sample<W>(dst + 2 * i, src + i, lgain, rgain);
    });
}

}  // namespace samplekit
