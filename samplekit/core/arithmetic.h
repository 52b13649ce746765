// The arithmetic the fragment routines share: saturation of a result at a
// width's limits, truncation of a double to 32 bits without undefined
// behaviour, and the greatest common divisor that reduces ratecv's rates and
// weights.
#pragma once

#include <cstdint>

#include "core/sample_layout.h"

namespace samplekit {
namespace {

// Saturates val to [min, max] and truncates toward zero. The lower test is
// against min + 1 so that values strictly between min and min + 1 give min.
// A NaN passes both tests; it yields INT32_MIN, the value the x86 conversion
// instruction produces for it, so the result is the same on every target
// (stored at widths 1 to 3 it leaves zero bytes).
inline int clamp_to_range(double val, double min, double max) {
    double chosen = val;
    if (val > max) chosen = max;
    else if (val < min + 1.0) chosen = min;
    if (chosen != chosen) return INT32_MIN;
    return static_cast<int>(chosen);
}

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

// Truncates toward zero to a 32-bit integer, saturating where the value lies
// beyond the range (and giving INT32_MIN for a NaN) instead of leaving the
// conversion undefined. Within the range it is a plain conversion.
inline std::int32_t truncate_to_int32(double v) {
    if (v >= 2147483648.0) return INT32_MAX;
    if (!(v > -2147483649.0)) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

// Greatest common divisor by remainders, quotient truncated toward zero. When
// b is 0 or negative on entry the result is a.
inline int gcd(int a, int b) {
    while (b > 0) {
        int r = a % b;
        a = b;
        b = r;
    }
    return a;
}

}  // namespace
}  // namespace samplekit
