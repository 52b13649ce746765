// The IMA ADPCM decoder in scalar x86 code, with the choices the signal's
// bits would mispredict as branches made by conditional moves.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/adpcm_frame.h"
#include "core/sample_layout.h"
#include "x86/adpcm_asm.h"
#include "x86/tables.h"

using namespace samplekit::adpcm;

namespace samplekit::x86 {
namespace {

// The decoder step, for a predicted value already within 16 bits
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
    constexpr unsigned bits21 = 6u << Shift;
    constexpr unsigned sign_bit = 8u << Shift;
    const int step = d.step;
    const unsigned moved = d.index + static_cast<unsigned>(adpcm_index_adjust[code]);
    const unsigned index_bound = opaque((code & 4u) * 22u);   // 88 with bit 2 set, else 0
    d.index = moved > 88 ? index_bound : moved;
    const int larger = static_cast<int>(static_cast<unsigned>(step) * (code_bits & bits21) >> (2 + Shift));
    // A conditional move: short of registers (x86-32), GCC made the choice a
    // branch, which the signal's bits mispredict half the time.
    const int delta = (step >> 3) + larger + pick_if_set<1u << Shift>(code_bits, step >> 2);
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
        store16<W>(p, value);
    }
}

}  // namespace
}  // namespace samplekit::x86

// Decodes len code bytes, high nibble first, into 2 * len samples of the
// given width (len * width * 2 bytes). Any width other than 1 to 4 writes
// nothing and leaves the state alone.
void samplekit::x86::scalar::adcpm2lin(unsigned char *output, unsigned char *input,
                                       std::size_t len, std::size_t width, int *state) {
    Coder c = coder_at_entry(state);
    const bool valid = dispatch_width(checked_width(width), [&](auto w) {
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
