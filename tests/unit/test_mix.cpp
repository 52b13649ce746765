#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "forms.h"
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

using kivo_tests::Buffer;
using kivo_tests::Implementation;
using kivo_tests::runnable;

Bytes call_add(const Implementation &impl, Bytes a, Bytes b, int width) {
    Bytes out(a.size(), 0xAA);
    impl.add(chars(out), chars(a), chars(b), a.size(), width);
    return out;
}

Bytes call_tostereo(const Implementation &impl, Bytes in, int width, double lgain,
                    double rgain) {
    Bytes out(2 * in.size(), 0xAA);
    impl.tostereo(chars(out), chars(in), in.size(), width, lgain, rgain);
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

// Each row is added both ways round, x + y and y + x, by every form.
class AddCases : public ::testing::TestWithParam<worked_cases::AddRow> {};

TEST_P(AddCases, SumSaturatesAtTheWidth) {
    const auto &c = GetParam();
    for (const Implementation *impl : runnable())
        EXPECT_EQ(call_add(*impl, samples(c.width, {c.x, c.y}), samples(c.width, {c.y, c.x}),
                           c.width),
                  samples(c.width, {c.sum, c.sum}))
            << impl->name;
    EXPECT_EQ(reference_sum(c.x, c.y, c.width), c.sum);
}

INSTANTIATE_TEST_SUITE_P(WorkedCases, AddCases, ::testing::ValuesIn(worked_cases::add));

class Add : public kivo_tests::EveryForm {};
KIVO_FOR_EVERY_FORM(Add);

TEST_P(Add, EveryPairOfWidthOneSamples) {
    Bytes a(65536), b(65536);
    for (std::size_t k = 0; k < 65536; ++k) {
        a[k] = static_cast<unsigned char>(k >> 8);
        b[k] = static_cast<unsigned char>(k);
    }
    const Bytes out = call_add(impl(), a, b, 1), expected = reference_add(a, b, 1);
    for (std::size_t k = 0; k < 65536; ++k)
        ASSERT_EQ(out[k], expected[k]) << get(a, k, 1) << " + " << get(b, k, 1);
}

// add streams its sums from 4 MiB on (widths 1, 2 and 4); one length past
// that, ending in single blocks and a partial sample.
std::vector<std::size_t> add_lengths() {
    std::vector<std::size_t> lengths(kivo_tests::kMaxLen + 1);
    std::iota(lengths.begin(), lengths.end(), std::size_t{0});
    lengths.push_back((4 << 20) + 54);
    return lengths;
}

// Every form against the plain one, and the plain one against the oracle:
// every width (unusable ones too), lengths up to several blocks and past
// streaming, the output apart from the inputs, either of them, or all three
// one buffer, and any misalignment, each buffer ending at its allocation.
TEST(Differential, Add) {
    for (int width : kivo_tests::kWidths)
        for (std::size_t len : add_lengths()) {
            if (len > kivo_tests::kMaxLen && (width < 1 || width == 3 || width > 4)) continue;
            for (int alias = 0; alias < 4; ++alias) {   // out apart, frag1, frag2, all three
                const Buffer a(len), b(len), out(len);
                auto run = [&](const Implementation &impl) {
                    Buffer x(a), y(b), o(out);
                    Buffer &target = alias == 0 ? o : alias == 2 ? y : x;
                    impl.add(target.chars(), x.chars(), (alias == 3 ? x : y).chars(), len, width);
                    return std::vector<Bytes>{o.bytes(), x.bytes(), y.bytes()};
                };
                const std::vector<Bytes> want = run(samplekit::plain);
                if (width >= 1 && width <= 4) {
                    const std::size_t whole = len - len % static_cast<std::size_t>(width);
                    const Bytes sums = reference_add(a.bytes(), (alias == 3 ? a : b).bytes(), width);
                    const Bytes &got = want[alias == 0 ? 0 : alias == 2 ? 2 : 1];
                    ASSERT_TRUE(std::equal(sums.begin(), sums.begin() + static_cast<long>(whole),
                                           got.begin()))
                        << "plain form, width " << width << " len " << len << " alias " << alias;
                }
                for (const Implementation *impl : kivo_tests::faster_forms())
                    ASSERT_EQ(run(*impl), want)
                        << impl->name << " width " << width << " len " << len << " alias " << alias;
            }
        }
}

// --- tostereo -------------------------------------------------------------------

class ToStereoCases : public ::testing::TestWithParam<worked_cases::TostereoRow> {};

TEST_P(ToStereoCases, LeftAndRight) {
    const auto &c = GetParam();
    for (const Implementation *impl : runnable())
        EXPECT_EQ(call_tostereo(*impl, samples(c.width, {c.sample}), c.width, c.lgain, c.rgain),
                  samples(c.width, {c.left, c.right}))
            << impl->name;
    EXPECT_EQ(reference_scaled(c.sample, c.lgain, c.width), c.left);
    EXPECT_EQ(reference_scaled(c.sample, c.rgain, c.width), c.right);
}

INSTANTIATE_TEST_SUITE_P(WorkedCases, ToStereoCases, ::testing::ValuesIn(worked_cases::tostereo));

class ToStereo : public kivo_tests::EveryForm {};
KIVO_FOR_EVERY_FORM(ToStereo);

TEST_P(ToStereo, EveryWidthOneAndTwoSample) {
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
            ASSERT_EQ(call_tostereo(impl(), in, width, lgain, rgain),
                      reference_tostereo(in, width, lgain, rgain))
                << "width " << width << " gains " << lgain << ", " << rgain;
        }
    }
}

TEST_P(ToStereo, NotANumberStoresTheLowBytesOfInt32Min) {
    for (int width = 1; width <= 4; ++width) {
        // A NaN gain on the left; infinity times zero on the right.
        const std::int64_t nan_value = width == 4 ? INT32_MIN : 0;
        EXPECT_EQ(call_tostereo(impl(), samples(width, {0, 5, -5}), width, kNan, kInf),
                  samples(width, {nan_value, nan_value, nan_value, highest(width), nan_value,
                                  lowest(width)}))
            << "width " << width;
    }
}

// Every form against the plain one, and the plain one against the oracle,
// for gains at and just past the largest that no sample of widths 1 and 2
// can saturate (127/128 and 32767/32768), gains that are zero, huge,
// subnormal, infinite or not a number, and any gains near 1 and up to 40.
TEST(Differential, Tostereo) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> near_one(-1.01, 1.01), wide(-40.0, 40.0);
    double gains[] = {0.0, -0.0, 1.0, -1.0, 0.7, -1.3, 0.999, 2.0, 1e-300, 0.9921875,
                      -0.99219, 0.999969482421875, 0.99997, 1e300, -1e300, kInf, -kInf,
                      kNan, 0, 0};
    for (int width : kivo_tests::kWidths)
        for (std::size_t len = 0; len <= kivo_tests::kMaxLen; ++len)
            for (double lgain : gains) {
                gains[std::size(gains) - 2] = near_one(rng);
                gains[std::size(gains) - 1] = wide(rng);
                const double rgain =
                    gains[kivo_tests::pick(0, static_cast<int>(std::size(gains)) - 1)];
                const Buffer in(len), out(2 * len);
                auto run = [&](const Implementation &impl) {
                    Buffer o(out);
                    impl.tostereo(o.chars(), in.chars(), len, width, lgain, rgain);
                    return o.bytes();
                };
                const Bytes want = run(samplekit::plain);
                if (width >= 1 && width <= 4) {
                    const std::size_t whole = 2 * (len - len % static_cast<std::size_t>(width));
                    const Bytes expected = reference_tostereo(in.bytes(), width, lgain, rgain);
                    ASSERT_TRUE(std::equal(expected.begin(),
                                           expected.begin() + static_cast<long>(whole),
                                           want.begin()))
                        << "plain form, width " << width << " len " << len;
                }
                for (const Implementation *impl : kivo_tests::faster_forms())
                    ASSERT_EQ(run(*impl), want) << impl->name << " width " << width << " len "
                                                << len << " gains " << lgain << ", " << rgain;
            }
}

// --- contract violations ----------------------------------------------------------

class Contract : public kivo_tests::EveryForm {};
KIVO_FOR_EVERY_FORM(Contract);

// A trailing partial sample is neither read nor written. The inputs are
// exactly len bytes long, so AddressSanitizer reports any read past them.
TEST_P(Contract, OnlyWholeSamplesAreHandled) {
    std::mt19937 rng(5);
    for (int width = 2; width <= 4; ++width) {
        for (std::size_t extra = 1; extra < static_cast<std::size_t>(width); ++extra) {
            Bytes a = random_samples(rng, width, 9), b = random_samples(rng, width, 9);
            Bytes expected_sum = reference_add(a, b, width);
            Bytes expected_stereo = reference_tostereo(a, width, 0.75, -1.25);
            a.resize(a.size() + extra, 0x7F);
            b.resize(b.size() + extra, 0x7F);
            expected_sum.resize(a.size(), 0xAA);
            expected_stereo.resize(2 * a.size(), 0xAA);
            EXPECT_EQ(call_add(impl(), a, b, width), expected_sum)
                << "width " << width << " extra " << extra;
            EXPECT_EQ(call_tostereo(impl(), a, width, 0.75, -1.25), expected_stereo)
                << "width " << width << " extra " << extra;
        }
    }
}

TEST_P(Contract, OtherWidthsStoreNothing) {
    for (int width : {0, -1, -4, 5, 8, INT32_MIN, INT32_MAX}) {
        const Bytes a(40, 0x7F);
        EXPECT_EQ(call_add(impl(), a, a, width), Bytes(40, 0xAA)) << "width " << width;
        EXPECT_EQ(call_tostereo(impl(), a, width, 1.0, 1.0), Bytes(80, 0xAA)) << "width " << width;
    }
}

TEST_P(Contract, EmptyFragmentsTouchNothing) {
    for (int width = 1; width <= 4; ++width) {
        // Null buffers: any access would fault.
        impl().add(nullptr, nullptr, nullptr, 0, width);
        impl().tostereo(nullptr, nullptr, 0, width, 1.0, 1.0);
        Bytes a(4, 1), out(8, 0xAA);
        impl().add(chars(out), chars(a), chars(a), 0, width);
        impl().tostereo(chars(out), chars(a), 0, width, 1.0, 1.0);
        EXPECT_EQ(out, Bytes(8, 0xAA)) << "width " << width;
    }
}

}  // namespace
