#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/arithmetic.h"
#include "core/sample_layout.h"
#include "worked_cases.h"

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

std::vector<unsigned char> bytes(worked_cases::Bytes b) { return {b.begin(), b.end()}; }

// A sample read at the 16-bit or the 32-bit scale.
std::int32_t scaled(int scale, int width, std::vector<unsigned char> b) {
    std::int32_t v = 0;
    EXPECT_TRUE(sk::dispatch_width(width, [&](auto w) {
        constexpr int W = decltype(w)::value;
        v = scale == 16 ? sk::load16<W>(b.data()) : sk::load32<W>(b.data());
    }));
    return v;
}

// A value written back from that scale; the byte after the sample must stay.
std::vector<unsigned char> scaled_back(int scale, int width, std::int32_t v) {
    std::vector<unsigned char> out(static_cast<size_t>(width) + 1, 0xAA);
    sk::dispatch_width(width, [&](auto w) {
        constexpr int W = decltype(w)::value;
        if (scale == 16) sk::store16<W>(out.data(), v);
        else sk::store32<W>(out.data(), v);
    });
    EXPECT_EQ(out.back(), 0xAA) << "width " << width;
    out.pop_back();
    return out;
}

TEST(SampleLayout, WorkedBytesOfEveryScale) {
    for (const auto &c : worked_cases::layout_native) {
        EXPECT_EQ(native(c.width, bytes(c.bytes)), c.value) << c;
        EXPECT_EQ(stored(c.width, c.value), bytes(c.bytes)) << c;
    }
    for (const auto &c : worked_cases::layout_store_native)
        EXPECT_EQ(stored(c.width, c.value), bytes(c.bytes)) << c;
    for (const auto &c : worked_cases::layout_load16)
        EXPECT_EQ(scaled(16, c.width, bytes(c.bytes)), c.value) << c;
    for (const auto &c : worked_cases::layout_store16)
        EXPECT_EQ(scaled_back(16, c.width, c.value), bytes(c.bytes)) << c;
    for (const auto &c : worked_cases::layout_load32)
        EXPECT_EQ(scaled(32, c.width, bytes(c.bytes)), c.value) << c;
    for (const auto &c : worked_cases::layout_store32)
        EXPECT_EQ(scaled_back(32, c.width, c.value), bytes(c.bytes)) << c;
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

TEST(SampleLayout, SixteenBitScaleRoundTrips) {
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
    for (const auto &c : worked_cases::clamp_to_range)
        EXPECT_EQ(sk::clamp_to_range(c.value, c.min, c.max), c.expected) << c;
}

TEST(ClampToRange, NanGivesTheMostNegativeInt) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int w = 1; w <= 4; ++w)
        EXPECT_EQ(sk::clamp_to_range(nan, sk::sample_min[w], sk::sample_max[w]), INT32_MIN);
    EXPECT_EQ(sk::clamp_to_range(-nan, -128, 127), INT32_MIN);
}

TEST(Gcd, RemaindersAndNonPositiveSecondArgument) {
    for (const auto &c : worked_cases::gcd) EXPECT_EQ(sk::gcd(c.a, c.b), c.expected) << c;
}

}  // namespace
