// IMA ADPCM coder: 4-bit codes, two per byte with the first in the high
// nibble, at 16-bit precision whatever the sample width. The caller carries
// the predicted value and the step index from one call to the next.
#include <cstddef>
#include <cstdint>

#include "adpcm_coder.h"
#include "sample_layout.h"
#include "samplekit_decls.h"

using namespace samplekit::adpcm;

namespace {

// The shipped encoder step, for a predicted value already within 16 bits
// (after the first sample). It gives the same codes and states as
// encode_sample, with the same two table lookups, but fewer operations and a
// shorter chain from one sample to the next; the predicted value is kept
// biased by 32768, so that 16 bits are 0..65535.
struct BiasedCoder {
    int biased;       // predicted value + 32768
    unsigned index;   // step index
    int step;         // adpcm_step_sizes[index]
};

// The value as it is, hidden from the optimiser so that it does not
// reassociate the sum that made it into a chain of additions.
[[gnu::always_inline]] inline unsigned opaque(unsigned value) {
    asm("" : "+r"(value));
    return value;
}

// Magnitude bits k4 k2 k1 are chosen greedily against S, H = S >> 1 and
// Q = S >> 2; since S >= H + Q and H >= Q, the seven sums of those terms rise
// with the magnitude, so the magnitude is the number of sums not above the
// difference d. Each test is the sign of the sum less one minus d, which is
// the sum plus ~d, one addition after the step or another sum; the seven
// signs are added as a tree.
[[gnu::always_inline]] inline unsigned encode_sample_fast(BiasedCoder &c, int biased_value) {
    const int diff = biased_value - c.biased;
    const int sign = diff >> 31;   // all ones below zero
    const int not_d = diff < 0 ? diff - 1 : ~diff;   // ~|diff|
    const int step = c.step;
    const int half = step >> 1;
    const int quarter = step >> 2;
    const auto reached = [](int r) { return static_cast<unsigned>(r) >> 31; };
    const int r4 = step + not_d;
    const int r2 = half + not_d;
    const int r6 = r4 + half;
    const unsigned magnitude =
        opaque(opaque(reached(r4) + reached(quarter + not_d)) + reached(r6)) +
        opaque(opaque(reached(r2) + reached(r4 + quarter)) +
               opaque(reached(r2 + quarter) + reached(r6 + quarter)));
    const int delta = (step >> 3) + (step & -static_cast<int>(magnitude >> 2)) +
                      (half & -static_cast<int>((magnitude >> 1) & 1)) +
                      (quarter & -static_cast<int>(magnitude & 1));
    // A step up can only pass the top of the range and a step down the
    // bottom; either way the biased sum leaves 0..65535 as an unsigned value.
    const int moved_value = c.biased + ((delta ^ sign) - sign);
    const int value_bound = ~sign & 65535;
    c.biased = static_cast<unsigned>(moved_value) > 65535 ? value_bound : moved_value;
    // Below 81 the index can only pass the bottom (by one), from 81 on only
    // the top; either way the sum leaves 0..88 as an unsigned value.
    const unsigned index_bound = c.index > 80 ? 88u : 0u;
    const unsigned moved = c.index + static_cast<unsigned>(adpcm_index_adjust[magnitude]);
    c.index = moved > 88 ? index_bound : moved;
    c.step = adpcm_step_sizes[c.index];
    return magnitude | (static_cast<unsigned>(sign) & 8u);
}

}  // namespace

// Codes the len / width whole samples of the input (a trailing partial sample
// is not read) into n / 2 bytes. The code of an odd last sample moves the
// state on but is dropped: each call starts a fresh pair. Any width other
// than 1 to 4 writes nothing and leaves the state alone.
extern "C" void lin2adcpm(unsigned char *output, unsigned char *input,
                          std::size_t len, std::size_t width, int *state) {
    Coder c = coder_at_entry(state);
    std::size_t samples = 0;
    const bool valid = samplekit::dispatch_width(checked_width(width), [&](auto w) {
        constexpr int W = decltype(w)::value;
        samples = len / W;
        const unsigned char *in = input;
        // The caller's predicted value may lie outside 16 bits: the first
        // sample takes the general step, which brings it within.
        if (samples == 0) return;
        const unsigned first_code = encode_sample(c, samplekit::load16<W>(in));
        BiasedCoder b{c.predicted + 32768, static_cast<unsigned>(c.step_index), c.step};
        if (samples >= 2) {
            output[0] = static_cast<unsigned char>(first_code << 4 | encode_sample_fast(b, samplekit::load16<W>(in + W) + 32768));
            in += 2 * W;
        }
        for (std::size_t i = 1; i < samples / 2; ++i) {
            const unsigned first = encode_sample_fast(b, samplekit::load16<W>(in) + 32768);
            output[i] = static_cast<unsigned char>(first << 4 | encode_sample_fast(b, samplekit::load16<W>(in + W) + 32768));
            in += 2 * W;
        }
        if (samples > 1 && (samples & 1) != 0) encode_sample_fast(b, samplekit::load16<W>(in) + 32768);
        c.predicted = b.biased - 32768;
        c.step_index = static_cast<int>(b.index);
        c.step = b.step;
    });
    if (valid) write_back(state, c, samples != 0);
}

// Decodes len code bytes, high nibble first, into 2 * len samples of the
// given width (len * width * 2 bytes). Any width other than 1 to 4 writes
// nothing and leaves the state alone.
extern "C" void adcpm2lin(unsigned char *output, unsigned char *input,
                          std::size_t len, std::size_t width, int *state) {
    Coder c = coder_at_entry(state);
    const bool valid = samplekit::dispatch_width(checked_width(width), [&](auto w) {
        constexpr int W = decltype(w)::value;
        unsigned char *out = output;
        for (std::size_t i = 0; i < len; ++i) {
            const unsigned byte = input[i];
            decode_code(c, byte >> 4);
            samplekit::store16<W>(out, c.predicted);
            decode_code(c, byte & 0x0Fu);
            samplekit::store16<W>(out + W, c.predicted);
            out += 2 * W;
        }
    });
    if (valid) write_back(state, c, len != 0);
}
