#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "samplekit_decls.h"
#include "worked_cases.h"

namespace {

using Bytes = std::vector<unsigned char>;

// --- plain references, independent of the module's layout helpers ----------

std::int64_t lowest(int width) { return -(std::int64_t{1} << (8 * width - 1)); }
std::int64_t highest(int width) { return (std::int64_t{1} << (8 * width - 1)) - 1; }

std::int64_t get(const Bytes &b, std::size_t sample, int width) {
    const std::size_t w = static_cast<std::size_t>(width);
    std::int64_t v = 0;
    for (std::size_t k = w; k-- > 0;) v = v * 256 + b[sample * w + k];
    if (v > highest(width)) v -= std::int64_t{1} << (8 * width);
    return v;
}

void put(Bytes &b, std::size_t sample, int width, std::int64_t v) {
    const std::size_t w = static_cast<std::size_t>(width);
    auto u = static_cast<std::uint64_t>(v);
    for (std::size_t k = 0; k < w; ++k, u >>= 8)
        b[sample * w + k] = static_cast<unsigned char>(u & 0xFF);
}

std::int64_t reference_sum(std::int64_t x, std::int64_t y, int width) {
    const std::int64_t s = x + y;
    if (s > highest(width)) return highest(width);
    if (s < lowest(width)) return lowest(width);
    return s;
}

// Saturation with the lower test at min + 1, else truncation toward zero; a
// NaN becomes the most negative 32-bit value.
std::int64_t reference_scaled(std::int64_t v, double gain, int width) {
    const double p = static_cast<double>(v) * gain;
    const auto lo = static_cast<double>(lowest(width));
    const auto hi = static_cast<double>(highest(width));
    if (std::isnan(p)) return INT32_MIN;
    if (p > hi) return highest(width);
    if (p < lo + 1.0) return lowest(width);
    return static_cast<std::int64_t>(std::trunc(p));
}

Bytes reference_add(const Bytes &a, const Bytes &b, int width) {
    Bytes out(a.size());
    const std::size_t n = a.size() / static_cast<std::size_t>(width);
    for (std::size_t k = 0; k < n; ++k)
        put(out, k, width, reference_sum(get(a, k, width), get(b, k, width), width));
    return out;
}

Bytes reference_tostereo(const Bytes &in, int width, double lgain, double rgain) {
    const std::size_t n = in.size() / static_cast<std::size_t>(width);
    Bytes out(2 * in.size());
    for (std::size_t k = 0; k < n; ++k) {
        const std::int64_t v = get(in, k, width);
        // Only the low bytes of a NaN's INT32_MIN are kept at narrow widths.
        put(out, 2 * k, width, reference_scaled(v, lgain, width));
        put(out, 2 * k + 1, width, reference_scaled(v, rgain, width));
    }
    return out;
}

// --- calling the routines ---------------------------------------------------

char *chars(Bytes &b) { return reinterpret_cast<char *>(b.data()); }

Bytes call_add(Bytes a, Bytes b, int width) {
    Bytes out(a.size(), 0xAA);
    add(chars(out), chars(a), chars(b), a.size(), width);
    return out;
}

Bytes call_tostereo(Bytes in, int width, double lgain, double rgain) {
    Bytes out(2 * in.size(), 0xAA);
    tostereo(chars(out), chars(in), in.size(), width, lgain, rgain);
    return out;
}

Bytes samples(int width, std::initializer_list<std::int64_t> values) {
    Bytes b(values.size() * static_cast<std::size_t>(width));
    std::size_t k = 0;
    for (std::int64_t v : values) put(b, k++, width, v);
    return b;
}

// Random samples, one in four drawn from the values next to the limits and
// zero, where saturation and truncation faults show.
Bytes random_samples(std::mt19937 &rng, int width, std::size_t n) {
    const std::int64_t lo = lowest(width), hi = highest(width);
    const std::int64_t edges[] = {lo, lo + 1, lo + 2, -2, -1, 0, 1, 2, hi - 1, hi};
    std::uniform_int_distribution<std::int64_t> any(lo, hi);
    Bytes b(n * static_cast<std::size_t>(width));
    for (std::size_t k = 0; k < n; ++k)
        put(b, k, width, rng() % 4 == 0 ? edges[rng() % 10] : any(rng));
    return b;
}

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// --- add ----------------------------------------------------------------------

// Each row is added both ways round, x + y and y + x.
class AddCases : public ::testing::TestWithParam<worked_cases::AddRow> {};

TEST_P(AddCases, SumSaturatesAtTheWidth) {
    const auto &c = GetParam();
    EXPECT_EQ(call_add(samples(c.width, {c.x, c.y}), samples(c.width, {c.y, c.x}), c.width),
              samples(c.width, {c.sum, c.sum}));
    EXPECT_EQ(reference_sum(c.x, c.y, c.width), c.sum);
}

INSTANTIATE_TEST_SUITE_P(WorkedCases, AddCases, ::testing::ValuesIn(worked_cases::add));

TEST(Add, EveryPairOfWidthOneSamples) {
    Bytes a(65536), b(65536);
    for (std::size_t k = 0; k < 65536; ++k) {
        a[k] = static_cast<unsigned char>(k >> 8);
        b[k] = static_cast<unsigned char>(k);
    }
    const Bytes out = call_add(a, b, 1);
    const Bytes expected = reference_add(a, b, 1);
    for (std::size_t k = 0; k < 65536; ++k)
        ASSERT_EQ(out[k], expected[k]) << get(a, k, 1) << " + " << get(b, k, 1);
}

TEST(Add, RandomFragmentsAgainstReference) {
    std::mt19937 rng(7);
    for (int width = 1; width <= 4; ++width) {
        for (int run = 0; run < 20; ++run) {
            const std::size_t n = 1 + rng() % 3000;
            const Bytes a = random_samples(rng, width, n);
            const Bytes b = random_samples(rng, width, n);
            ASSERT_EQ(call_add(a, b, width), reference_add(a, b, width))
                << "width " << width << " run " << run;
        }
    }
}

TEST(Add, OutputMayBeEitherInput) {
    std::mt19937 rng(11);
    for (int width = 1; width <= 4; ++width) {
        const Bytes a = random_samples(rng, width, 1000);
        const Bytes b = random_samples(rng, width, 1000);
        const Bytes expected = reference_add(a, b, width);

        Bytes first = a, second = b;
        add(chars(first), chars(first), chars(second), first.size(), width);
        EXPECT_EQ(first, expected) << "out == frag1, width " << width;

        first = a;
        add(chars(second), chars(first), chars(second), second.size(), width);
        EXPECT_EQ(second, expected) << "out == frag2, width " << width;

        Bytes both = a;
        add(chars(both), chars(both), chars(both), both.size(), width);
        EXPECT_EQ(both, reference_add(a, a, width)) << "all three, width " << width;
    }
}

// --- tostereo -------------------------------------------------------------------

class ToStereoCases : public ::testing::TestWithParam<worked_cases::TostereoRow> {};

TEST_P(ToStereoCases, LeftAndRight) {
    const auto &c = GetParam();
    EXPECT_EQ(call_tostereo(samples(c.width, {c.sample}), c.width, c.lgain, c.rgain),
              samples(c.width, {c.left, c.right}));
    EXPECT_EQ(reference_scaled(c.sample, c.lgain, c.width), c.left);
    EXPECT_EQ(reference_scaled(c.sample, c.rgain, c.width), c.right);
}

INSTANTIATE_TEST_SUITE_P(WorkedCases, ToStereoCases, ::testing::ValuesIn(worked_cases::tostereo));

TEST(ToStereo, EveryWidthOneAndTwoSample) {
    const double gains[] = {0.999, -1.0, -0.5, 2.0, 0.0, 1.5, 1.0, -0.999, 0.25};
    const std::size_t count = std::size(gains);
    for (int width : {1, 2}) {
        const std::size_t n = std::size_t{1} << (8 * width);
        Bytes in(n * static_cast<std::size_t>(width));
        for (std::size_t k = 0; k < n; ++k)
            put(in, k, width, static_cast<std::int64_t>(k) + lowest(width));
        for (std::size_t g = 0; g < count; ++g) {
            // Each gain on the left once, with a different one on the right.
            const double lgain = gains[g], rgain = gains[(g + 1) % count];
            ASSERT_EQ(call_tostereo(in, width, lgain, rgain),
                      reference_tostereo(in, width, lgain, rgain))
                << "width " << width << " gains " << lgain << ", " << rgain;
        }
    }
}

TEST(ToStereo, RandomFragmentsAgainstReference) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> near_one(-1.01, 1.01);
    std::uniform_real_distribution<double> wide(-40.0, 40.0);
    for (int width : {3, 4}) {
        for (int run = 0; run < 40; ++run) {
            const Bytes in = random_samples(rng, width, 2000);
            const double lgain = run % 2 ? near_one(rng) : wide(rng);
            const double rgain = run % 3 ? near_one(rng) : 1.0 - 1e-9;
            ASSERT_EQ(call_tostereo(in, width, lgain, rgain),
                      reference_tostereo(in, width, lgain, rgain))
                << "width " << width << " gains " << lgain << ", " << rgain;
        }
    }
}

TEST(ToStereo, NotANumberStoresTheLowBytesOfInt32Min) {
    for (int width = 1; width <= 4; ++width) {
        // A NaN gain on the left; infinity times zero on the right.
        const Bytes out = call_tostereo(samples(width, {0, 5, -5}), width, kNan, kInf);
        const std::int64_t nan_value = width == 4 ? INT32_MIN : 0;
        EXPECT_EQ(out, samples(width, {nan_value, nan_value, nan_value, highest(width),
                                       nan_value, lowest(width)}))
            << "width " << width;
    }
}

// --- contract violations ----------------------------------------------------------

// A trailing partial sample is neither read nor written. The inputs are
// exactly len bytes long, so AddressSanitizer reports any read past them.
TEST(Contract, OnlyWholeSamplesAreHandled) {
    std::mt19937 rng(5);
    for (int width = 2; width <= 4; ++width) {
        for (std::size_t extra = 1; extra < static_cast<std::size_t>(width); ++extra) {
            Bytes a = random_samples(rng, width, 9), b = random_samples(rng, width, 9);
            const Bytes whole_sum = reference_add(a, b, width);
            const Bytes whole_stereo = reference_tostereo(a, width, 0.75, -1.25);
            for (std::size_t k = 0; k < extra; ++k) {
                a.push_back(0x7F);
                b.push_back(0x7F);
            }
            a.shrink_to_fit();
            b.shrink_to_fit();

            Bytes sum(a.size(), 0xAA);
            add(chars(sum), chars(a), chars(b), a.size(), width);
            Bytes expected_sum = whole_sum;
            expected_sum.resize(a.size(), 0xAA);
            EXPECT_EQ(sum, expected_sum) << "width " << width << " extra " << extra;

            Bytes stereo(2 * a.size(), 0xAA);
            tostereo(chars(stereo), chars(a), a.size(), width, 0.75, -1.25);
            Bytes expected_stereo = whole_stereo;
            expected_stereo.resize(2 * a.size(), 0xAA);
            EXPECT_EQ(stereo, expected_stereo) << "width " << width << " extra " << extra;
        }
    }
}

TEST(Contract, OtherWidthsStoreNothing) {
    for (int width : {0, -1, -4, 5, 8, INT32_MIN, INT32_MAX}) {
        Bytes a(40, 0x7F), b(40, 0x7F);
        Bytes sum(40, 0xAA), stereo(80, 0xAA);
        add(chars(sum), chars(a), chars(b), a.size(), width);
        tostereo(chars(stereo), chars(a), a.size(), width, 1.0, 1.0);
        EXPECT_EQ(sum, Bytes(40, 0xAA)) << "width " << width;
        EXPECT_EQ(stereo, Bytes(80, 0xAA)) << "width " << width;
    }
}

TEST(Contract, EmptyFragmentsTouchNothing) {
    for (int width = 1; width <= 4; ++width) {
        // Null buffers: any access would fault.
        add(nullptr, nullptr, nullptr, 0, width);
        tostereo(nullptr, nullptr, 0, width, 1.0, 1.0);
        Bytes a(4, 1), out(8, 0xAA);
        add(chars(out), chars(a), chars(a), 0, width);
        tostereo(chars(out), chars(a), 0, width, 1.0, 1.0);
        EXPECT_EQ(out, Bytes(8, 0xAA)) << "width " << width;
    }
}

}  // namespace
