#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "samplekit_decls.h"
#include "worked_cases.h"

namespace {

constexpr int kCodes = 256;

class G711DecodeCases : public ::testing::TestWithParam<worked_cases::G711DecodeRow> {};

TEST_P(G711DecodeCases, TellingEntries) {
    const auto code = static_cast<unsigned char>(GetParam().code);
    EXPECT_EQ(st_ulaw2linear16(code), GetParam().ulaw);
    EXPECT_EQ(st_alaw2linear16(code), GetParam().alaw);
}

INSTANTIATE_TEST_SUITE_P(WorkedCases, G711DecodeCases,
                         ::testing::ValuesIn(worked_cases::g711_decode));

TEST(G711Decode, TablesAreOddSymmetricAndOnTheirGrids) {
    std::set<int> ulaw_magnitudes, alaw_magnitudes;
    for (int c = 0; c < kCodes; ++c) {
        const auto code = static_cast<unsigned char>(c);
        const auto mirror = static_cast<unsigned char>(c ^ 0x80);
        const int u = st_ulaw2linear16(code);
        const int a = st_alaw2linear16(code);
        // The sign bit only flips the sign.
        EXPECT_EQ(u, -st_ulaw2linear16(mirror)) << c;
        EXPECT_EQ(a, -st_alaw2linear16(mirror)) << c;
        // u-law values are 4 times, A-law values 8 times the decoder outputs.
        EXPECT_EQ(u % 4, 0) << c;
        EXPECT_EQ(a % 8, 0) << c;
        EXPECT_NE(a, 0) << c;   // A-law has no zero level
        EXPECT_LE(std::abs(u), 32124);
        EXPECT_LE(std::abs(a), 32256);
        ulaw_magnitudes.insert(std::abs(u));
        alaw_magnitudes.insert(std::abs(a));
    }
    EXPECT_EQ(ulaw_magnitudes.size(), 128u);   // 0 appears for 0x7F and 0xFF
    EXPECT_EQ(alaw_magnitudes.size(), 128u);
    // u-law: code 0xFF - k decodes to a magnitude rising with k.
    for (int k = 1; k < 128; ++k)
        EXPECT_GT(st_ulaw2linear16(static_cast<unsigned char>(0xFF - k)),
                  st_ulaw2linear16(static_cast<unsigned char>(0xFF - k + 1)));
}

// Every input of a row's range encodes to its code.
class UlawEncodeCases : public ::testing::TestWithParam<worked_cases::UlawEncodeRow> {};
class AlawEncodeCases : public ::testing::TestWithParam<worked_cases::AlawEncodeRow> {};

TEST_P(UlawEncodeCases, WorkedRanges) {
    for (int x = GetParam().from; x <= GetParam().to; ++x)
        EXPECT_EQ(st_14linear2ulaw(static_cast<PyInt16>(x)), GetParam().code) << x;
}

TEST_P(AlawEncodeCases, WorkedRanges) {
    for (int x = GetParam().from; x <= GetParam().to; ++x)
        EXPECT_EQ(st_linear2alaw(static_cast<PyInt16>(x)), GetParam().code) << x;
}

INSTANTIATE_TEST_SUITE_P(WorkedCases, UlawEncodeCases, ::testing::ValuesIn(worked_cases::ulaw_encode));
INSTANTIATE_TEST_SUITE_P(WorkedCases, AlawEncodeCases, ::testing::ValuesIn(worked_cases::alaw_encode));

TEST(G711Encode, EncodeThenDecodeWorkedValues) {
    for (const auto &r : worked_cases::ulaw_round_trip)
        EXPECT_EQ(st_ulaw2linear16(st_14linear2ulaw(static_cast<PyInt16>(r.sample))), r.level) << r;
    for (const auto &r : worked_cases::alaw_round_trip)
        EXPECT_EQ(st_alaw2linear16(st_linear2alaw(static_cast<PyInt16>(r.sample))), r.level) << r;
}

TEST(G711Encode, EveryDecodedValueEncodesBackToItsCode) {
    for (int c = 0; c < kCodes; ++c) {
        const auto code = static_cast<unsigned char>(c);
        EXPECT_EQ(st_linear2alaw(st_alaw2linear16(code)), code) << c;
        const unsigned char expected = c == 0x7F ? 0xFF : code;
        EXPECT_EQ(st_14linear2ulaw(st_ulaw2linear16(code)), expected) << c;
    }
}

// Over every 16-bit input: the decoded code is the nearest level of its law
// within the encoder's truncation, the code sequence is monotonic, and the
// u-law encoder never produces negative zero.
TEST(G711Encode, EveryInputIsMonotonicAndClose) {
    int previous_ulaw_level = INT32_MIN, previous_alaw_level = INT32_MIN;
    for (int x = -32768; x <= 32767; ++x) {
        const auto sample = static_cast<PyInt16>(x);
        const unsigned char u = st_14linear2ulaw(sample);
        const unsigned char a = st_linear2alaw(sample);
        ASSERT_NE(u, 0x7F) << x;
        const int ulevel = st_ulaw2linear16(u);
        const int alevel = st_alaw2linear16(a);
        // Levels never decrease as the input rises.
        ASSERT_GE(ulevel, previous_ulaw_level) << x;
        ASSERT_GE(alevel, previous_alaw_level) << x;
        previous_ulaw_level = ulevel;
        previous_alaw_level = alevel;
        // Quantisation error is at most one step of the segment (steps are
        // 2^(segment+1) times the law's scale); clipped at the ends.
        const int uerr = std::abs(ulevel - x);
        const int aerr = std::abs(alevel - x);
        ASSERT_LE(uerr, std::max(8, std::abs(x) / 16 + 8)) << x;
        ASSERT_LE(aerr, std::max(16, std::abs(x) / 16 + 16)) << x;
        // Bit 7 of both codes is set exactly for inputs of zero or above.
        ASSERT_EQ((u & 0x80) != 0, x >= 0) << x;
        ASSERT_EQ((a & 0x80) != 0, x >= 0) << x;
    }
}

// Plain encoders: the segment found by searching the table of segment ends.
unsigned char reference_ulaw(int x) {
    static const int ends[8] = {63, 127, 255, 511, 1023, 2047, 4095, 8191};
    int v = x >> 2;
    int mask = 0xFF;
    if (v < 0) { v = -v; mask = 0x7F; }
    v += 33;
    int s = 0;
    while (s < 8 && v > ends[s]) ++s;
    if (s == 8) return static_cast<unsigned char>(0x7F ^ mask);
    return static_cast<unsigned char>(((s << 4) | ((v >> (s + 1)) & 0x0F)) ^ mask);
}

unsigned char reference_alaw(int x) {
    static const int ends[8] = {31, 63, 127, 255, 511, 1023, 2047, 4095};
    int v = x >> 3;
    int mask = 0xD5;
    if (v < 0) { mask = 0x55; v = -v - 1; }
    int s = 0;
    while (v > ends[s]) ++s;
    const int q = (s < 2 ? v >> 1 : v >> s) & 0x0F;
    return static_cast<unsigned char>(((s << 4) | q) ^ mask);
}

TEST(G711Encode, EveryInputMatchesTheSegmentSearch) {
    for (int x = -32768; x <= 32767; ++x) {
        ASSERT_EQ(st_14linear2ulaw(static_cast<PyInt16>(x)), reference_ulaw(x)) << x;
        ASSERT_EQ(st_linear2alaw(static_cast<PyInt16>(x)), reference_alaw(x)) << x;
    }
}

}  // namespace
