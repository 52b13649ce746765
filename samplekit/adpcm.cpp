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

// The shipped encoder step. It gives the same codes and states as
// encode_sample, with the same two table lookups per sample, but its chain
// from one sample to the next is shorter: the three greedy comparisons are
// made at once against every threshold.

// Magnitude bits k4 k2 k1 are chosen greedily against S, H = S >> 1 and
// Q = H >> 1; since S >= H + Q and H >= Q, the seven sums of those terms rise
// with the magnitude, so the magnitude is the number of sums not above the
// difference, and the terms it takes follow from its bits.
inline unsigned encode_sample_fast(Coder &c, int value) {
    int diff = value - c.predicted;
    const int negative = diff >> 31;   // all ones below zero
    diff = (diff ^ negative) - negative;
    const int step = c.step;
    const int half = step >> 1;
    const int quarter = step >> 2;   // half >> 1, without waiting for half
    // Summed as a tree, not as a chain of additions.
    const int low = (diff >= quarter) + (diff >= half);
    const int middle = (diff >= half + quarter) + (diff >= step);
    const int high = (diff >= step + quarter) + (diff >= step + half);
    const int magnitude = (low + middle) + (high + (diff >= step + half + quarter));
    c.step_index = clamp_step_index(c.step_index + adpcm_index_adjust[magnitude]);
    const int delta = (step >> 3) + (step & -(magnitude >> 2)) +
                      (half & -((magnitude >> 1) & 1)) + (quarter & -(magnitude & 1));
    c.predicted = clamp16(c.predicted + ((delta ^ negative) - negative));
    c.step = adpcm_step_sizes[c.step_index];
    return static_cast<unsigned>(magnitude | (negative & 8));
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
        for (std::size_t i = 0; i < samples / 2; ++i) {
            const unsigned first = encode_sample_fast(c, samplekit::load16<W>(in));
            const unsigned second = encode_sample_fast(c, samplekit::load16<W>(in + W));
            output[i] = static_cast<unsigned char>(first << 4 | second);
            in += 2 * W;
        }
        if (samples & 1) encode_sample_fast(c, samplekit::load16<W>(in));
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
