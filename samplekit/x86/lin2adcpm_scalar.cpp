// The IMA ADPCM encoder in scalar x86 code: the quantiser's three levels as
// conditional moves (the residual of a working coder is close to random, so
// branches would mispredict), in general-purpose registers only.
#include <cstddef>
#include <cstdint>

#include "core/adpcm_frame.h"
#include "core/sample_layout.h"
#include "x86/adpcm_asm.h"
#include "x86/tables.h"

using namespace samplekit::adpcm;

namespace samplekit::x86 {
namespace {

// The encoder step, for a predicted value already within 16 bits
// (after the first sample). It gives the same codes and states as
// encode_sample, with the same two table lookups, but fewer operations and a
// shorter chain from one sample to the next; the predicted value is kept
// biased by 32768, so that 16 bits are 0..65535.
struct BiasedCoder {
    int biased;             // predicted value + 32768
    std::intptr_t index;    // step index, pointer-sized so that it indexes as it is
    int step;               // adpcm_step_sizes[index]
};

// The quantiser works on n = ~r (-r - 1) for the remainder r, starting from
// r = |d|, d = value - biased (both biased, so 0..65535). One subtraction
// gives ~d, and its borrow says d >= 0 (biased <= value); otherwise ~|d| is
// d - 1. not_negative is all ones for d >= 0, else zero.
[[gnu::always_inline]] inline int complement_of_distance(int biased, int value,
                                                         int &not_negative) {
    int n;
    const int value_up = value + 1, below = (value - 1) - biased;
    asm("mov %[b], %[n]\n\t"
        "sub %[up], %[n]\n\t"   // biased - value - 1 = ~d
        "sbb %[s], %[s]\n\t"
        "cmovae %[below], %[n]"
        : [n] "=&r"(n), [s] "=&r"(not_negative)
        : [b] "r"(biased), [up] "r"(value_up), [below] "r"(below)
        : "cc");
    return n;
}

// The three levels take S, H = S >> 1 and Q = S >> 2 off the remainder
// greedily, each a flag that chooses with conditional moves: the new
// remainder, the term the level adds to the delta (taken, else 0) and the
// code bit, shifted into bits. After the three, bits is the magnitude less 4.
//
// First level: n + S carries exactly when S > r. Without the carry r >= S,
// n + S is ~(r - S) and S is taken; subtracting the carry from zero leaves
// bits = 0 (bit set) or -1 (clear), the bit less one.
[[gnu::always_inline]] inline void first_level(int &n, int step, std::intptr_t &bits,
                                               int &taken) {
    int t;
    asm("mov %[n], %[t]\n\t"
        "xor %[taken], %[taken]\n\t"
        "add %[S], %[t]\n\t"
        "cmovae %[t], %[n]\n\t"
        "cmovae %[S], %[taken]\n\t"
        "sbb %[bits], %[bits]"
        : [n] "+r"(n), [t] "=&r"(t), [bits] "=&r"(bits), [taken] "=&r"(taken)
        : [S] "r"(step)
        : "cc");
}

// The next levels get their term T > 0 as -T: n - (-T) is n + T again, and it
// borrows exactly when r >= T (n is then below -T as unsigned values), so the
// borrow is the bit itself: it moves the remainder, takes -T and is shifted
// into bits.
[[gnu::always_inline]] inline void second_level(int &n, int minus_term,
                                                std::intptr_t &bits, int &taken) {
    int t;
    asm("mov %[n], %[t]\n\t"
        "xor %[taken], %[taken]\n\t"
        "sub %[T], %[t]\n\t"
        "cmovb %[t], %[n]\n\t"
        "cmovb %[T], %[taken]\n\t"
        "adc %[bits], %[bits]"
        : [n] "+r"(n), [t] "=&r"(t), [bits] "+r"(bits), [taken] "=&r"(taken)
        : [T] "r"(minus_term)
        : "cc");
}

// The last level leaves no remainder: a comparison in place of the subtraction.
[[gnu::always_inline]] inline void last_level(int n, int minus_term, std::intptr_t &bits,
                                              int &taken) {
    asm("xor %[taken], %[taken]\n\t"
        "cmp %[T], %[n]\n\t"
        "cmovb %[T], %[taken]\n\t"
        "adc %[bits], %[bits]"
        : [bits] "+r"(bits), [taken] "=&r"(taken)
        : [n] "r"(n), [T] "r"(minus_term)
        : "cc");
}

// The index clamp below is worked out from the magnitude before the
// adjustment is loaded; it holds for the table as it is: -1 below magnitude 4,
// 2 * magnitude - 6 from 4 on.
constexpr bool index_adjust_is_linear() {
    for (int m = 0; m < 16; ++m) {
        const int k = m & 7;
        if (adpcm_index_adjust[m] != (k < 4 ? -1 : 2 * k - 6)) return false;
    }
    return true;
}
static_assert(index_adjust_is_linear());

[[gnu::always_inline]] inline unsigned encode_sample_fast(BiasedCoder &c, int biased_value) {
    int not_negative;
    int n = complement_of_distance(c.biased, biased_value, not_negative);
    const int step = c.step;
    const int minus_half = (1 - step) >> 1;      // -(step >> 1)
    const int minus_quarter = (3 - step) >> 2;   // -(step >> 2)
    std::intptr_t bits;   // magnitude - 4
    int step_taken, minus_half_taken, minus_quarter_taken;
    first_level(n, step, bits, step_taken);
    second_level(n, minus_half, bits, minus_half_taken);
    last_level(n, minus_quarter, bits, minus_quarter_taken);
    // A move up is clamped at 65535; a move down, clamped at 0, is the same
    // move up from 65535 - value (the low 16 bits complemented), so one
    // comparison clamps either way.
    const int bound = not_negative & 0xFFFF;   // 65535 up, 0 down
    const int flip = bound ^ 0xFFFF;
    const int moved = ((c.biased ^ flip) + ((step >> 3) + step_taken)) -
                      minus_half_taken - minus_quarter_taken;
    c.biased = pick_greater(moved, 65535, bound, moved ^ flip);
    // The new index is clamp(index + adjust) and the step is read at
    // base[adjust], base = the clamped index - adjust, which bits give before
    // the adjustment is loaded; so one load follows the other directly.
    // - Below magnitude 4 (adjust -1) the index leaves 0..88 only from 0,
    //   and base is then 1. index + step_taken is 0 exactly in that case:
    //   step_taken is 0 below 4 and the step from 4 on.
    // - From 4 on (adjust 2 * bits + 2) it leaves only the top, when
    //   index + 2 * bits > 86, and base is then 88 - adjust = 86 - 2 * bits.
    const std::intptr_t index = c.index;
    const std::intptr_t base =
        pick_greater<std::intptr_t>(index + 2 * bits, 86, 86 - 2 * bits,
                                    index + (index + step_taken == 0));
    const std::intptr_t adjust = adpcm_index_adjust[bits + 4];
    const int *at_base = adpcm_step_sizes + base;
    asm("" : "+r"(at_base));   // kept apart from the adjustment, which comes last
    c.step = at_base[adjust];
    c.index = base + adjust;
    // The magnitude, and 8 for a negative difference.
    return static_cast<unsigned>(bits + 12 + (not_negative & -8));
}

}  // namespace
}  // namespace samplekit::x86

// Codes the len / width whole samples of the input (a trailing partial sample
// is not read) into n / 2 bytes. The code of an odd last sample moves the
// state on but is dropped: each call starts a fresh pair. Any width other
// than 1 to 4 writes nothing and leaves the state alone.
void samplekit::x86::scalar::lin2adcpm(unsigned char *output, unsigned char *input,
                                       std::size_t len, std::size_t width, int *state) {
    Coder c = coder_at_entry(state);
    std::size_t samples = 0;
    const bool valid = dispatch_width(checked_width(width), [&](auto w) {
        constexpr int W = decltype(w)::value;
        samples = len / W;
        const unsigned char *in = input;
        // The caller's predicted value may lie outside 16 bits: the first
        // sample takes the general step, which brings it within.
        if (samples == 0) return;
        const unsigned first_code = encode_sample(c, load16<W>(in));
        BiasedCoder b{c.predicted + 32768, c.step_index, c.step};
        // The code of the sample at p, from the biased coder; inlined, as a
        // call per sample would take the coder's state through memory.
        const auto code_at = [&b](const unsigned char *p) __attribute__((always_inline)) {
            return encode_sample_fast(b, load16<W>(p) + 32768);
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

