// One sample of add and of tostereo on the native scale, saturated at the
// width's limits: the plain forms, and the tails of the vector kernels.
#pragma once

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

}  // namespace samplekit
