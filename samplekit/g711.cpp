// G.711 companding of single samples: u-law and A-law, each direction.
#include <array>
#include <cstdint>

#include "samplekit_decls.h"

namespace {

// Largest biased magnitude of each u-law segment.
constexpr std::int16_t ulaw_segment_ends[8] = {63,   127,  255,  511,
                                               1023, 2047, 4095, 8191};
// Largest magnitude of each A-law segment.
constexpr std::int16_t alaw_segment_ends[8] = {31,  63,   127,  255,
                                               511, 1023, 2047, 4095};

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

}  // namespace

extern "C" unsigned char st_14linear2ulaw(PyInt16 sample) {
    int v = sample >> 2;   // arithmetic: -1 stays -1
    int mask = 0xFF;
    if (v < 0) {
        v = -v;
        mask = 0x7F;
    }
    v += 33;   // bias; at most 8225
    int segment = 0;
    while (segment < 8 && v > ulaw_segment_ends[segment]) ++segment;
    if (segment == 8) return static_cast<unsigned char>(0x7F ^ mask);
    return static_cast<unsigned char>(
        ((segment << 4) | ((v >> (segment + 1)) & 0x0F)) ^ mask);
}

extern "C" unsigned char st_linear2alaw(PyInt16 sample) {
    int v = sample >> 3;
    int mask = 0xD5;
    if (v < 0) {
        mask = 0x55;
        v = -v - 1;   // ones' complement: 0..4095
    }
    int segment = 0;
    while (v > alaw_segment_ends[segment]) ++segment;   // v <= 4095 always ends it
    int step = (segment < 2 ? v >> 1 : v >> segment) & 0x0F;
    return static_cast<unsigned char>(((segment << 4) | step) ^ mask);
}

extern "C" PyInt16 st_ulaw2linear16(unsigned char code) {
    return ulaw_decode_table[code];
}

extern "C" PyInt16 st_alaw2linear16(unsigned char code) {
    return alaw_decode_table[code];
}
