// Mixing of two fragments and expansion of a mono fragment to stereo, both
// on the native scale and saturating every result at the width's limits.
#include <cstddef>
#include <cstdint>

#include "sample_layout.h"
#include "samplekit_decls.h"

namespace {

using samplekit::clamp_to_range;
using samplekit::dispatch_width;
using samplekit::load_native;
using samplekit::sample_max;
using samplekit::sample_min;
using samplekit::store_native;

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

}  // namespace

// Only whole samples are handled: a tail of len shorter than one sample is
// neither read nor written, and a width outside 1 to 4 stores nothing.
// out may be frag1 or frag2 itself, since both inputs at a position are read
// before that position is written.
extern "C" void add(char *out, char *frag1, char *frag2, std::size_t len,
                    int width) {
    auto *dst = reinterpret_cast<unsigned char *>(out);
    const auto *a = reinterpret_cast<const unsigned char *>(frag1);
    const auto *b = reinterpret_cast<const unsigned char *>(frag2);
    dispatch_width(width, [&](auto w) {
        constexpr int W = decltype(w)::value;
        constexpr std::size_t step = W;
        const std::size_t end = len / step * step;
        for (std::size_t i = 0; i < end; i += step) {
            const std::int32_t x = load_native<W>(a + i);
            const std::int32_t y = load_native<W>(b + i);
            store_native<W>(dst + i, saturated_sum<W>(x, y));
        }
    });
}

// Writes 2 * (whole samples of len) * width bytes, left sample first; like
// add, a partial trailing sample and a width outside 1 to 4 store nothing.
// A product that is not a number (a NaN gain, or an infinite gain times a
// zero sample) passes both saturation tests; clamp_to_range turns it into
// INT32_MIN, so its low bytes are stored: zeros at widths 1 to 3 and
// INT32_MIN at width 4, the same on every target.
extern "C" void tostereo(char *out, char *frag, std::size_t len, int width,
                         double lgain, double rgain) {
    auto *dst = reinterpret_cast<unsigned char *>(out);
    const auto *src = reinterpret_cast<const unsigned char *>(frag);
    dispatch_width(width, [&](auto w) {
        constexpr int W = decltype(w)::value;
        constexpr double min = sample_min[W];
        constexpr double max = sample_max[W];
        constexpr std::size_t step = W;
        const std::size_t end = len / step * step;
        for (std::size_t i = 0; i < end; i += step) {
            const double v = load_native<W>(src + i);
            store_native<W>(dst + 2 * i, clamp_to_range(v * lgain, min, max));
            store_native<W>(dst + 2 * i + step, clamp_to_range(v * rgain, min, max));
        }
    });
}
