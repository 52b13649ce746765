#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "sample_layout.h"

namespace sk = samplekit;

namespace {

std::int32_t native(int width, std::vector<unsigned char> bytes) {
    std::int32_t v = 0;
    EXPECT_TRUE(sk::dispatch_width(width, [&](auto w) {
        v = sk::load_native<decltype(w)::value>(bytes.data());
    }));
    return v;
}

std::vector<unsigned char> stored(int width, std::int32_t v) {
    std::vector<unsigned char> out(static_cast<size_t>(width), 0xAA);
    sk::dispatch_width(width, [&](auto w) {
        sk::store_native<decltype(w)::value>(out.data(), v);
    });
    return out;
}

// Plain reference: little-endian two's complement of any width.
std::int64_t reference_native(const std::vector<unsigned char> &b) {
    std::int64_t v = 0;
    for (size_t i = b.size(); i-- > 0;) v = v * 256 + b[i];
    std::int64_t span = std::int64_t{1} << (8 * b.size());
    if (v >= span / 2) v -= span;
    return v;
}

TEST(SampleLayout, NativeValuesOfTellingBytes) {
    struct Case { int width; std::vector<unsigned char> bytes; std::int32_t value; };
    const Case cases[] = {
        {1, {0x80}, -128},
        {1, {0x7F}, 127},
        {1, {0xFF}, -1},
        {2, {0x00, 0x80}, -32768},
        {2, {0xFF, 0x7F}, 32767},
        {3, {0x00, 0x00, 0x80}, -8388608},
        {3, {0xFF, 0xFF, 0x7F}, 8388607},
        {3, {0xFF, 0xFF, 0xFF}, -1},
        {4, {0x78, 0x56, 0x34, 0x12}, 0x12345678},
        {4, {0x00, 0x00, 0x00, 0x80}, INT32_MIN},
        {4, {0xFF, 0xFF, 0xFF, 0x7F}, INT32_MAX},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(native(c.width, c.bytes), c.value) << "width " << c.width;
        EXPECT_EQ(stored(c.width, c.value), c.bytes) << "width " << c.width;
    }
}

TEST(SampleLayout, EveryWidthOneAndTwoSampleRoundTrips) {
    for (int width : {1, 2}) {
        const int count = 1 << (8 * width);
        for (int raw = 0; raw < count; ++raw) {
            std::vector<unsigned char> b(static_cast<size_t>(width));
            for (int i = 0; i < width; ++i)
                b[static_cast<size_t>(i)] = static_cast<unsigned char>(raw >> (8 * i));
            const std::int32_t v = native(width, b);
            ASSERT_EQ(v, reference_native(b));
            ASSERT_EQ(stored(width, v), b);
        }
    }
}

TEST(SampleLayout, WidthThreeAndFourAgainstReference) {
    std::uint32_t x = 12345;
    for (int n = 0; n < 100000; ++n) {
        x = x * 1664525u + 1013904223u;
        for (int width : {3, 4}) {
            std::vector<unsigned char> b(static_cast<size_t>(width));
            for (int i = 0; i < width; ++i)
                b[static_cast<size_t>(i)] = static_cast<unsigned char>(x >> (8 * i));
            ASSERT_EQ(native(width, b), reference_native(b));
            ASSERT_EQ(stored(width, native(width, b)), b);
        }
    }
}

TEST(SampleLayout, StoreKeepsOnlyTheLowBitsOfTheWidth) {
    EXPECT_EQ(stored(1, 0x1234), (std::vector<unsigned char>{0x34}));
    EXPECT_EQ(stored(3, -8388608), (std::vector<unsigned char>{0x00, 0x00, 0x80}));
    EXPECT_EQ(stored(3, -1), (std::vector<unsigned char>{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(stored(3, 0x7F123456), (std::vector<unsigned char>{0x56, 0x34, 0x12}));
}

TEST(SampleLayout, SixteenBitScale) {
    const unsigned char w1[] = {0x80};
    EXPECT_EQ(sk::load16<1>(w1), -32768);
    const unsigned char w3a[] = {0x00, 0xFF, 0x7F};
    EXPECT_EQ(sk::load16<3>(w3a), 32767);
    const unsigned char w3b[] = {0x12, 0x00, 0x80};
    EXPECT_EQ(sk::load16<3>(w3b), -32768);   // first byte ignored
    const unsigned char w4[] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(sk::load16<4>(w4), 0x1234);

    unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    sk::store16<3>(out, 32767);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0xFF);
    EXPECT_EQ(out[2], 0x7F);
    EXPECT_EQ(out[3], 0xAA);
    sk::store16<1>(out, -200);   // high byte of -200 is 0xFF
    EXPECT_EQ(out[0], 0xFF);
    sk::store16<4>(out, 41);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 41);
    EXPECT_EQ(out[3], 0);
    // Every 16-bit value survives store then load at every width but 1.
    for (int v = -32768; v <= 32767; ++v) {
        unsigned char b[4];
        sk::store16<2>(b, v);
        ASSERT_EQ(sk::load16<2>(b), v);
        sk::store16<3>(b, v);
        ASSERT_EQ(sk::load16<3>(b), v);
        sk::store16<4>(b, v);
        ASSERT_EQ(sk::load16<4>(b), v);
        sk::store16<1>(b, v);
        ASSERT_EQ(sk::load16<1>(b), (v >> 8) * 256);
    }
}

TEST(SampleLayout, ThirtyTwoBitScale) {
    const unsigned char ff[] = {0xFF};
    EXPECT_EQ(sk::load32<1>(ff), -16777216);
    unsigned char out[1] = {0};
    sk::store32<1>(out, -16777216);
    EXPECT_EQ(out[0], 0xFF);
    // Scaling back is an arithmetic shift: it floors.
    sk::store32<1>(out, -1);
    EXPECT_EQ(out[0], 0xFF);
    const unsigned char w3[] = {0x01, 0x02, 0x83};
    EXPECT_EQ(sk::load32<3>(w3), static_cast<std::int32_t>(0x83020100u));
    unsigned char b3[3];
    sk::store32<3>(b3, static_cast<std::int32_t>(0x830201FFu));
    EXPECT_EQ(b3[0], 0x01);
    EXPECT_EQ(b3[1], 0x02);
    EXPECT_EQ(b3[2], 0x83);
}

TEST(SampleLayout, DispatchRejectsOtherWidths) {
    for (long long width : {0LL, -1LL, 5LL, 8LL, 1LL << 40}) {
        bool called = false;
        EXPECT_FALSE(sk::dispatch_width(width, [&](auto) { called = true; }));
        EXPECT_FALSE(called);
    }
}

TEST(SampleLimits, TablesMatchTheWidths) {
    EXPECT_EQ(sk::sample_min[0], 0);
    EXPECT_EQ(sk::sample_max[0], 0);
    for (int w = 1; w <= 4; ++w) {
        const std::int64_t span = std::int64_t{1} << (8 * w);
        EXPECT_EQ(sk::sample_min[w], -span / 2);
        EXPECT_EQ(sk::sample_max[w], span / 2 - 1);
    }
}

TEST(ClampToRange, SaturatesAndTruncatesTowardZero) {
    struct Case { double value; double min; double max; int expected; };
    const double lo4 = sk::sample_min[4], hi4 = sk::sample_max[4];
    const Case cases[] = {
        {-127.5, -128, 127, -128},
        {-127.0, -128, 127, -127},
        {-127.9999, -128, 127, -128},
        {-126.5, -128, 127, -126},
        {126.9, -128, 127, 126},
        {127.0, -128, 127, 127},
        {127.5, -128, 127, 127},
        {1e300, -128, 127, 127},
        {-1e300, -128, 127, -128},
        {std::numeric_limits<double>::infinity(), -128, 127, 127},
        {-std::numeric_limits<double>::infinity(), -128, 127, -128},
        {-0.7, -128, 127, 0},
        {2147483648.0, lo4, hi4, INT32_MAX},
        {-2147483648.0, lo4, hi4, INT32_MIN},
        {-2147483647.5, lo4, hi4, INT32_MIN},
        {-2147483647.0, lo4, hi4, -2147483647},
        {2147483646.9, lo4, hi4, 2147483646},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sk::clamp_to_range(c.value, c.min, c.max), c.expected) << c.value;
}

TEST(ClampToRange, NanGivesTheMostNegativeInt) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int w = 1; w <= 4; ++w)
        EXPECT_EQ(sk::clamp_to_range(nan, sk::sample_min[w], sk::sample_max[w]), INT32_MIN);
    EXPECT_EQ(sk::clamp_to_range(-nan, -128, 127), INT32_MIN);
}

TEST(Gcd, RemaindersAndNonPositiveSecondArgument) {
    struct Case { int a, b, expected; };
    const Case cases[] = {
        {12, 18, 6}, {18, 12, 6}, {7, 0, 7}, {0, 5, 5}, {9, -3, 9},
        {44100, 8000, 100}, {8000, 44100, 100}, {1, 1, 1}, {-12, 18, 18},
        {INT32_MIN, 2, 2}, {INT32_MAX, INT32_MAX, INT32_MAX}, {0, 0, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sk::gcd(c.a, c.b), c.expected) << c.a << ", " << c.b;
}

}  // namespace
