// G.711 companding of single samples: u-law and A-law, each direction.
#include <array>
#include <cstdint>

#include "samplekit_decls.h"

namespace {

// Decoder outputs scaled to 16 bits: u-law values times 4, A-law times 8.
constexpr std::array<std::int16_t, 256> make_ulaw_decode_table() {
    std::array<std::int16_t, 256> table{};
    for (unsigned code = 0; code < 256; ++code) {
        int u = static_cast<int>(code ^ 0xFFu);
        int t = ((u & 0x0F) << 3) + 132;
        t <<= (u & 0x70) >> 4;
        table[code] = static_cast<std::int16_t>((u & 0x80) ? 132 - t : t - 132);
    }
    return table;
}

constexpr std::array<std::int16_t, 256> make_alaw_decode_table() {
    std::array<std::int16_t, 256> table{};
    for (unsigned code = 0; code < 256; ++code) {
        int a = static_cast<int>(code ^ 0x55u);
        int t = (a & 0x0F) << 4;
        int segment = (a & 0x70) >> 4;
        if (segment == 0) t += 8;
        else if (segment == 1) t += 264;
        else t = (t + 264) << (segment - 1);
        table[code] = static_cast<std::int16_t>((a & 0x80) ? t : -t);
    }
    return table;
}

constexpr auto ulaw_decode_table = make_ulaw_decode_table();
constexpr auto alaw_decode_table = make_alaw_decode_table();

// Both encoders take the segment from the position of the magnitude's
// highest set bit and the step from the four bits below it, which is what a
// search of the segment ends (2^(s+6) - 1 for u-law's biased magnitudes,
// 2^(s+5) - 1 for A-law's magnitudes) finds. Each scales its magnitude m so
// that the highest bit of segment s is bit s + 7. With top the index of m's
// highest bit, (m << 4) >> top is that bit followed by the four step bits,
// 16 + step, and the code (s << 4) | step is top * 16 + (16 + step) - 128.
// On the low byte, subtracting 128 flips bit 7, as the sign does. A-law's
// code_bits adds the sign's flip as 128 * negative and folds both flips and
// the mask into one final exclusive or; u-law (ulaw_of) adds the segment and
// step bits as bytes and folds the sign into its exclusive or instead.
constexpr unsigned code_bits(unsigned magnitude, unsigned top_source, int negative) {
    const auto top = static_cast<unsigned>(31 - __builtin_clz(top_source));   // source > 0
    const unsigned step = (magnitude << 4) >> top;   // 16 + step
    return (top + 8 * static_cast<unsigned>(negative)) * 16 + step;
}

// v = x >> 2 with its sign removed and biased by 33 is b >> 2 with
// b = ((x + 4 * negative) ^ negative) + 132: for a negative x, ~(x - 4) is
// -x + 3, and v's negation adds one to the ones' complement (x >> 2) ^ -1.
// The two low bits of b are shifted out with the step. A biased magnitude
// past 8191 (segment 8, b from 32768 to 32903) must give the code of 8191,
// the last step of segment 7: there the segment and step bits, top * 16 and
// 16 + step, add up to exactly 256, one above it. They are added as bytes,
// so that the carry out of that addition alone takes the one off. The sign
// and the mask then go in with one exclusive or (0xFF for a positive
// sample, 0x7F for a negative one).
constexpr unsigned char ulaw_of(int sample) {
    const int negative = sample >> 31;   // all ones below zero
    const auto biased4 = static_cast<unsigned>((sample + 4 * negative) ^ negative) + 132;
    const auto top = static_cast<unsigned>(31 - __builtin_clz(biased4));   // biased4 > 0
    const auto step = static_cast<unsigned char>((biased4 << 4) >> top);  // 16 + step
    unsigned char bits = 0;
    const bool past_segment_7 =
        __builtin_add_overflow(static_cast<unsigned char>(top * 16), step, &bits);
    return static_cast<unsigned char>((bits - past_segment_7) ^ (0x7F ^ (negative & 0x80)));
}

// v = x >> 3, a negative one replaced by its ones' complement, is y >> 3
// with y = x ^ negative (0..32767). Segment 0 has the step width of
// segment 1, so its top is taken as bit 8 as well: its code, v >> 1 = y >> 4,
// is what code_bits gives without the leading one.
constexpr unsigned char alaw_of(int sample) {
    const int negative = sample >> 31;
    const auto y = static_cast<unsigned>(sample ^ negative);
    return static_cast<unsigned char>(code_bits(y, y | 256, negative) ^ 0x55);
}

}  // namespace

extern "C" unsigned char st_14linear2ulaw(PyInt16 sample) {
    return ulaw_of(sample);
}

extern "C" unsigned char st_linear2alaw(PyInt16 sample) {
    return alaw_of(sample);
}

extern "C" PyInt16 st_ulaw2linear16(unsigned char code) {
    return ulaw_decode_table[code];
}

extern "C" PyInt16 st_alaw2linear16(unsigned char code) {
    return alaw_decode_table[code];
}
