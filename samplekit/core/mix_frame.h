// What every form of add and tostereo shares: one sample on the native
// scale, saturated at the width's limits (the plain forms, and the tails of
// the vector kernels), and the frame of a call, which takes whole samples
// only and stores nothing for a width outside 1 to 4.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/arithmetic.h"
#include "core/sample_layout.h"

namespace samplekit {
namespace {

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

}  // namespace
}  // namespace samplekit
