// The plain forms of the fragment routines: one sample at a time, portable
// C++ with nothing of any instruction set. A target ships the plain form of
// every routine for which it has no faster form (kernels.h), and the tests
// and benchmarks compare the faster forms with these (reference.h).
//
// The functions have internal linkage: each file that uses them compiles its
// own copy with its own options, so the scalar copy of the tests is never
// merged with a vectorised copy of a module.
#pragma once

#include <cstddef>
#include <cstdint>

#include "generic/adpcm_coder.h"
#include "generic/mix_sample.h"
#include "ratecv.h"
#include "sample_layout.h"

namespace samplekit::generic {

// Runs the two stages of ratecv until the input is used up; returns the
// final phase.
template <int Width, Filter Mode>
static int convert(unsigned char *out, const unsigned char *frag, std::size_t n,
                   int channels, int rate_in, int rate_out, int d, int *previous,
                   int *current, int weight_new, int weight_prev) {
    const double wn = weight_new;
    const double wp = weight_prev;
    const double weight_sum = wn + wp;   // in double: the ints could overflow
    const double ticks = rate_out;
    const auto nchannels = static_cast<std::size_t>(channels);
    for (;;) {
        while (d < 0) {
            if (n == 0) return d;
            for (std::size_t c = 0; c < nchannels; ++c) {
                const int prev = current[c];
                previous[c] = prev;
                [[maybe_unused]] const std::int32_t x = load32<Width>(frag);
                frag += Width;
                if constexpr (Mode == Filter::copy) {
                    current[c] = x;
                } else if constexpr (Mode == Filter::blend) {
                    current[c] = truncate_to_int32((wn * x + wp * prev) / weight_sum);
                }
            }
            --n;
            d += rate_out;   // d < 0 here, so this cannot overflow
        }
        while (d >= 0) {
            // A phase carried in from beyond rate_out' extrapolates; the
            // conversion saturates instead of overflowing.
            const double newer = ticks - d;
            const double older = d;
            for (std::size_t c = 0; c < nchannels; ++c) {
                const double v = (previous[c] * older + current[c] * newer) / ticks;
                store32<Width>(out, truncate_to_int32(v));
                out += Width;
            }
            d -= rate_in;   // d >= 0 here, so this cannot overflow
        }
    }
}

static inline void add(char *out, char *frag1, char *frag2, std::size_t len, int width) {
    add_fragments(out, frag1, frag2, len, width, [](auto &&...) { return std::size_t{0}; });
}

static inline void tostereo(char *out, char *frag, std::size_t len, int width, double lgain,
                            double rgain) {
    tostereo_fragment(out, frag, len, width, lgain, rgain,
                      [](auto &&...) { return std::size_t{0}; });
}

static inline void lin2adcpm(unsigned char *output, unsigned char *input, std::size_t len,
                             std::size_t width, int *state) {
    using namespace adpcm;
    Coder c = coder_at_entry(state);
    std::size_t samples = 0;
    const bool valid = dispatch_width(checked_width(width), [&](auto w) {
        constexpr int W = decltype(w)::value;
        samples = len / W;
        const unsigned char *in = input;
        for (std::size_t i = 0; i < samples / 2; ++i) {
            const unsigned first = encode_sample(c, load16<W>(in));
            const unsigned second = encode_sample(c, load16<W>(in + W));
            output[i] = static_cast<unsigned char>(first << 4 | second);
            in += 2 * W;
        }
        if (samples & 1) encode_sample(c, load16<W>(in));
    });
    if (valid) write_back(state, c, samples != 0);
}

static inline void adcpm2lin(unsigned char *output, unsigned char *input, std::size_t len,
                             std::size_t width, int *state) {
    using namespace adpcm;
    Coder c = coder_at_entry(state);
    const bool valid = dispatch_width(checked_width(width), [&](auto w) {
        constexpr int W = decltype(w)::value;
        unsigned char *out = output;
        for (std::size_t i = 0; i < len; ++i) {
            const unsigned byte = input[i];
            decode_code(c, byte >> 4);
            store16<W>(out, c.predicted);
            decode_code(c, byte & 0x0Fu);
            store16<W>(out + W, c.predicted);
            out += 2 * W;
        }
    });
    if (valid) write_back(state, c, len != 0);
}

static inline int ratecv(char *out, char *frag, std::size_t nframes, int width, int channels,
                         int rate_in, int rate_out, int *phase, int *previous, int *current,
                         int weight_new, int weight_prev) {
    return ratecv_call(out, frag, nframes, width, channels, rate_in, rate_out, phase,
                       previous, current, weight_new, weight_prev,
                       [](auto w, auto mode, auto &&...args) {
                           return convert<decltype(w)::value, decltype(mode)::value>(args...);
                       });
}

}  // namespace samplekit::generic
