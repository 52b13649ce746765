// G.711 companding of single samples: u-law and A-law, each direction.
#include <array>
#include <bit>
#include <cstdint>

#include "samplekit_decls.h"

namespace {

// The segments of both laws end at powers of two less one: u-law segment s
// holds biased magnitudes up to 2^(s+6) - 1 (63 ... 8191), A-law segment s
// magnitudes up to 2^(s+5) - 1 (31 ... 4095). The smallest segment whose end
// is not below a magnitude is therefore found from the magnitude's bit width,
// without a search.
constexpr int ulaw_segment(int biased) {   // biased: 33..8225; 8 past the end
    return static_cast<int>(std::bit_width(static_cast<unsigned>(biased))) - 6;
}
constexpr int alaw_segment(int magnitude) {   // magnitude: 0..4095
    const int s = static_cast<int>(std::bit_width(static_cast<unsigned>(magnitude))) - 5;
    return s < 0 ? 0 : s;
}

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

// The encoders by their rule. The sign is folded in without branches:
// negative is all ones.
constexpr unsigned char ulaw_of(int sample) {
    int v = sample >> 2;   // arithmetic: -1 stays -1
    const int negative = v >> 31;
    v = (v ^ negative) - negative;   // magnitude
    const int mask = 0xFF ^ (negative & 0x80);   // 0x7F for a negative value
    v += 33;   // bias; at most 8225
    const int segment = ulaw_segment(v);
    if (segment == 8) return static_cast<unsigned char>(0x7F ^ mask);
    return static_cast<unsigned char>(
        ((segment << 4) | ((v >> (segment + 1)) & 0x0F)) ^ mask);
}

constexpr unsigned char alaw_of(int sample) {
    int v = sample >> 3;
    const int negative = v >> 31;
    v ^= negative;   // ones' complement of a negative value: 0..4095
    const int mask = 0xD5 ^ (negative & 0x80);   // 0x55 for a negative value
    const int segment = alaw_segment(v);
    const int step = (segment < 2 ? v >> 1 : v >> segment) & 0x0F;
    return static_cast<unsigned char>(((segment << 4) | step) ^ mask);
}

// The encoders ignore the low 2 (u-law) and 3 (A-law) bits of a sample, so
// a table of 16384 and one of 8192 codes, indexed by the remaining bits as an
// unsigned number, make each call one load.
template <int Shift, unsigned char (*Encode)(int)>
constexpr std::array<unsigned char, (65536 >> Shift)> make_encode_table() {
    std::array<unsigned char, (65536 >> Shift)> table{};
    for (int sample = -32768; sample < 32768; sample += 1 << Shift)
        table[static_cast<unsigned>(sample + 32768) >> Shift] = Encode(sample);
    return table;
}

constexpr auto ulaw_encode_table = make_encode_table<2, ulaw_of>();
constexpr auto alaw_encode_table = make_encode_table<3, alaw_of>();

unsigned encode_index(PyInt16 sample, int shift) {
    return static_cast<unsigned>(sample + 32768) >> shift;
}

}  // namespace

extern "C" unsigned char st_14linear2ulaw(PyInt16 sample) {
    return ulaw_encode_table[encode_index(sample, 2)];
}

extern "C" unsigned char st_linear2alaw(PyInt16 sample) {
    return alaw_encode_table[encode_index(sample, 3)];
}

extern "C" PyInt16 st_ulaw2linear16(unsigned char code) {
    return ulaw_decode_table[code];
}

extern "C" PyInt16 st_alaw2linear16(unsigned char code) {
    return alaw_decode_table[code];
}
