// IMA ADPCM coder: 4-bit codes, two per byte with the first in the high
// nibble, at 16-bit precision whatever the sample width. The caller carries
// the predicted value and the step index from one call to the next.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

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
        // The code of the sample at p, from the biased coder.
        const auto code_at = [&b](const unsigned char *p) {
            return encode_sample_fast(b, samplekit::load16<W>(p) + 32768);
        };
        if (samples >= 2) {
            output[0] = static_cast<unsigned char>(first_code << 4 | code_at(in + W));
            in += 2 * W;
        }
        for (std::size_t i = 1; i < samples / 2; ++i) {
            const unsigned first = code_at(in);
            output[i] = static_cast<unsigned char>(first << 4 | code_at(in + W));
            in += 2 * W;
        }
        if (samples > 1 && (samples & 1) != 0) code_at(in);
        c.predicted = b.biased - 32768;
        c.step_index = static_cast<int>(b.index);
        c.step = b.step;
    });
    if (valid) write_back(state, c, samples != 0);
}

namespace {

// The shipped decoder step, for a predicted value already within 16 bits
// (after the first code). It gives the same samples and states as
// decode_code with the same two table lookups but fewer operations:
// - with k = 2 * b2 + b1 (the code's bits 2 and 1), b2 * S + b1 * (S >> 1)
//   is (S * 2k) >> 2 exactly, since b2 * S is whole; so the delta is that
//   product, S >> 3 and S >> 2 when bit 0 is set;
// - a negative code works on ~value (-value - 1, which maps 16 bits onto
//   themselves): value - delta clamped below at -32768 is then ~value + delta
//   clamped above at 32767, complemented back, so one comparison clamps
//   either way;
// - the step index falls only by one, when bit 2 is clear, and rises only
//   when it is set, so one unsigned comparison finds either way out of
//   0..88, and bit 2 says which end to take.
struct FastDecoder {
    int predicted;    // within 16 bits
    unsigned index;   // step index, 0..88
    int step;         // adpcm_step_sizes[index]
    // 32767, kept in a register rather than loaded as an immediate for each
    // comparison.
    int value_max = static_cast<int>(opaque(32767));
};

// code is the 4-bit code; code_bits holds the same bits from bit Shift up
// (the whole byte for either nibble), so that they are tested in place.
template <int Shift>
[[gnu::always_inline]] inline int decode_fast(FastDecoder &d, unsigned code_bits,
                                              unsigned code) {
    constexpr unsigned bit0 = 1u << Shift, bits21 = 6u << Shift;
    constexpr unsigned sign_bit = 8u << Shift;
    const int step = d.step;
    const unsigned moved = d.index + static_cast<unsigned>(adpcm_index_adjust[code]);
    const unsigned index_bound = opaque((code & 4u) * 22u);   // 88 with bit 2 set, else 0
    d.index = moved > 88 ? index_bound : moved;
    const int larger = static_cast<int>(static_cast<unsigned>(step) * (code_bits & bits21) >> (2 + Shift));
    const int delta = (step >> 3) + larger + ((code_bits & bit0) != 0 ? step >> 2 : 0);
    const int flip = -static_cast<int>((code_bits & sign_bit) >> (3 + Shift));
    const int moved_value = (d.predicted ^ flip) + delta;
    d.predicted = (moved_value > d.value_max ? d.value_max : moved_value) ^ flip;
    d.step = adpcm_step_sizes[d.index];
    return d.predicted;
}

// One store of two bytes at width 2 (the byte order of the x86 targets).
template <int W>
[[gnu::always_inline]] inline void store_decoded(unsigned char *p, int value) {
    if constexpr (W == 2 && std::endian::native == std::endian::little) {
        const auto bits = static_cast<std::uint16_t>(value);
        std::memcpy(p, &bits, 2);
    } else {
        samplekit::store16<W>(p, value);
    }
}

}  // namespace

// Decodes len code bytes, high nibble first, into 2 * len samples of the
// given width (len * width * 2 bytes). Any width other than 1 to 4 writes
// nothing and leaves the state alone.
extern "C" void adcpm2lin(unsigned char *output, unsigned char *input,
                          std::size_t len, std::size_t width, int *state) {
    Coder c = coder_at_entry(state);
    const bool valid = samplekit::dispatch_width(checked_width(width), [&](auto w) {
        constexpr int W = decltype(w)::value;
        if (len == 0) return;
        // The caller's predicted value may lie outside 16 bits: the first
        // code takes the general step, which brings it within.
        const unsigned first = input[0];
        decode_code(c, first >> 4);
        store_decoded<W>(output, c.predicted);
        FastDecoder d{c.predicted, static_cast<unsigned>(c.step_index), c.step};
        store_decoded<W>(output + W, decode_fast<0>(d, first, first & 0x0Fu));
        unsigned char *out = output + 2 * W;
        for (std::size_t i = 1; i < len; ++i) {
            const unsigned byte = input[i];
            store_decoded<W>(out, decode_fast<4>(d, byte, byte >> 4));
            store_decoded<W>(out + W, decode_fast<0>(d, byte, byte & 0x0Fu));
            out += 2 * W;
        }
        c.predicted = d.predicted;
        c.step_index = static_cast<int>(d.index);
        c.step = d.step;
    });
    if (valid) write_back(state, c, len != 0);
}
