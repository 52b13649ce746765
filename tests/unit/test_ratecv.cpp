#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "core/ratecv_frame.h"
#include "forms.h"
#include "worked_cases.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t kGuard = 32;
constexpr unsigned char kGuardByte = 0xA5;

struct Stream {
    int phase;
    std::vector<int> previous, current;
    bool operator==(const Stream &) const = default;
};

// --- plain reference, one sample at a time -----------------------------------

std::int32_t reference_read32(const unsigned char *p, int width) {
    std::int64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = v * 256 + p[i];
    const std::int64_t span = std::int64_t{1} << (8 * width);
    if (v >= span / 2) v -= span;
    return static_cast<std::int32_t>(v * (std::int64_t{1} << (32 - 8 * width)));
}

void reference_write32(Bytes &out, std::int32_t v, int width) {
    std::int64_t native = v;
    for (int i = 0; i < 32 - 8 * width; ++i) native = (native - (native & 1)) / 2;   // floor
    for (int i = 0; i < width; ++i) {
        out.push_back(static_cast<unsigned char>(native & 0xFF));
        native = (native - (native & 0xFF)) / 256;
    }
}

int reference_ratecv(Bytes &out, const Bytes &frag, std::size_t nframes, int width,
                     int channels, int rate_in, int rate_out, Stream &s,
                     int weight_new, int weight_prev) {
    const int g = std::gcd(rate_in, rate_out);
    rate_in /= g;
    rate_out /= g;
    const int h = std::gcd(weight_new, weight_prev);
    weight_new /= h;
    weight_prev /= h;
    out.clear();
    int d = s.phase;
    std::size_t n = nframes;
    std::size_t pos = 0;
    for (;;) {
        while (d < 0) {
            if (n == 0) {
                s.phase = d;
                return static_cast<int>(out.size());
            }
            for (std::size_t c = 0; c < static_cast<std::size_t>(channels); ++c) {
                s.previous[c] = s.current[c];
                const std::int32_t x = reference_read32(&frag[pos], width);
                pos += static_cast<std::size_t>(width);
                s.current[c] = static_cast<int>(
                    (static_cast<double>(weight_new) * x +
                     static_cast<double>(weight_prev) * s.previous[c]) /
                    (static_cast<double>(weight_new) + static_cast<double>(weight_prev)));
            }
            n = n - 1;
            d = d + rate_out;
        }
        while (d >= 0) {
            for (std::size_t c = 0; c < static_cast<std::size_t>(channels); ++c) {
                const double v = (static_cast<double>(s.previous[c]) * d +
                                  static_cast<double>(s.current[c]) * (rate_out - d)) /
                                 rate_out;
                // A phase far outside its range extrapolates beyond 32 bits: saturate.
                const double bounded = std::clamp(v, -2147483648.0, 2147483647.0);
                reference_write32(out, static_cast<std::int32_t>(bounded), width);
            }
            d = d - rate_in;
        }
    }
}

// --- calling the routine -------------------------------------------------------

using kivo_tests::Implementation;
using kivo_tests::runnable;

// Calls ratecv with an output sized by the frame-count rule plus guard bytes,
// and checks the result against the rule and the guard bytes afterwards.
Bytes run(const Implementation &impl, const Bytes &frag, std::size_t nframes, int width,
          int channels, int rate_in, int rate_out, Stream &s, int weight_new,
          int weight_prev) {
    const std::int64_t frames =
        samplekit::ratecv_output_frames(s.phase, nframes, rate_in, rate_out);
    const auto bytes = static_cast<std::size_t>(frames * channels * width);
    Bytes out(bytes + kGuard, kGuardByte);
    Bytes input = frag;
    input.push_back(0);   // data() of an empty input still points somewhere
    const int result = impl.ratecv(reinterpret_cast<char *>(out.data()),
                                   reinterpret_cast<char *>(input.data()), nframes, width,
                                   channels, rate_in, rate_out, &s.phase, s.previous.data(),
                                   s.current.data(), weight_new, weight_prev);
    EXPECT_EQ(result, static_cast<int>(bytes));
    for (std::size_t i = bytes; i < out.size(); ++i)
        EXPECT_EQ(out[i], kGuardByte) << "guard byte " << i - bytes;
    EXPECT_LT(s.phase, 0);
    out.resize(bytes);
    return out;
}

Bytes samples16(std::initializer_list<int> values) {
    Bytes b;
    for (int v : values) {
        b.push_back(static_cast<unsigned char>(v & 0xFF));
        b.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
    }
    return b;
}

Stream fresh(int phase, int channels) {
    return {phase, std::vector<int>(static_cast<std::size_t>(channels)),
            std::vector<int>(static_cast<std::size_t>(channels))};
}

// --- worked cases -------------------------------------------------------------

std::vector<int> ints(worked_cases::Ints v) { return {v.begin(), v.end()}; }

class RatecvCases : public ::testing::TestWithParam<worked_cases::RatecvRow> {};

// Every form and the plain reference are held to each row: output, byte
// count, phase and both arrays.
TEST_P(RatecvCases, OutputAndStream) {
    const auto &c = GetParam();
    const Bytes in(c.in.begin(), c.in.end()), expected(c.out.begin(), c.out.end());
    const std::size_t nframes = in.size() / static_cast<std::size_t>(c.width * c.channels);
    const Stream start{c.phase, ints(c.previous), ints(c.current)};
    const Stream end{c.end_phase, ints(c.end_previous), ints(c.end_current)};
    for (const Implementation *impl : runnable()) {
        Stream s = start;
        EXPECT_EQ(run(*impl, in, nframes, c.width, c.channels, c.rate_in, c.rate_out, s,
                      c.weight_new, c.weight_prev),
                  expected)
            << impl->name;
        EXPECT_EQ(s, end) << impl->name;
    }
    Stream plain = start;
    Bytes plain_out;
    EXPECT_EQ(reference_ratecv(plain_out, in, nframes, c.width, c.channels, c.rate_in,
                               c.rate_out, plain, c.weight_new, c.weight_prev),
              static_cast<int>(expected.size()));
    EXPECT_EQ(plain_out, expected);
    EXPECT_EQ(plain, end);
}

INSTANTIATE_TEST_SUITE_P(WorkedCases, RatecvCases, ::testing::ValuesIn(worked_cases::ratecv));

class Ratecv : public kivo_tests::EveryForm {};
KIVO_FOR_EVERY_FORM(Ratecv);

TEST_P(Ratecv, NoChannelsAdvancesOnlyThePhase) {
    Stream s = fresh(-2, 0);
    EXPECT_TRUE(run(impl(), samples16({1, 2, 3}), 3, 2, 0, 1, 2, s, 1, 0).empty());
    EXPECT_EQ(s.phase, -1);
    // However many frames are claimed, nothing is read and the call is quick.
    // The phase left is P = phase + nframes * rate_out' when that is
    // negative, else P mod rate_in' - rate_in' (rates reduced by their gcd).
    constexpr bool wide = sizeof(std::size_t) == 8;
    struct Case { int phase, rate_in, rate_out; std::size_t nframes; int left; };
    const Case cases[] = {
        {-1, 3, 2, SIZE_MAX, -1},
        {-5, 44100, 8000, SIZE_MAX / 3, wide ? -256 : -282},
        {INT_MIN, 7, 5, SIZE_MAX - 1, wide ? -2 : -6},
        {-2, 2, 1, 1, -1},
        {-9, 2, 1, 4, -5},
    };
    for (const auto &c : cases) {
        int phase = c.phase;
        char byte = 0;
        EXPECT_EQ(impl().ratecv(&byte, &byte, c.nframes, 2, 0, c.rate_in, c.rate_out, &phase,
                                nullptr, nullptr, 1, 0),
                  0);
        EXPECT_EQ(phase, c.left) << c.nframes;
    }
}

// --- broken preconditions ------------------------------------------------------

TEST_P(Ratecv, SenselessArgumentsTouchNothing) {
    struct Case { int width, channels, rate_in, rate_out, weight_new, weight_prev, phase; };
    const Case cases[] = {
        {0, 1, 1, 2, 1, 0, -2},  {-1, 1, 1, 2, 1, 0, -2},  {INT_MIN, 1, 1, 2, 1, 0, -2},
        {2, -1, 1, 2, 1, 0, -2}, {2, INT_MIN, 1, 2, 1, 0, -2},
        {2, 1, 0, 2, 1, 0, -2},  {2, 1, 1, 0, 1, 0, -2},   {2, 1, -3, 2, 1, 0, -2},
        {2, 1, 1, INT_MIN, 1, 0, -2},
        {2, 1, 1, 2, 0, 0, -2},  {2, 1, 1, 2, -1, 1, -2},  {2, 1, 1, 2, 1, -1, -2},
        {2, 1, 1, 2, INT_MIN, INT_MIN, -2},
        // Byte counts that the int result cannot hold.
        {1, 1, 1, 1, 1, 0, INT_MAX},      {2, 1, 1, 1, 1, 0, INT_MAX / 2 + 1},
        {4, 2, 1, 1, 1, 0, INT_MAX / 8},  {INT_MAX, 1, 1, 2, 1, 0, -2},
        {5, INT_MAX, 1, 1, 1, 0, 0},
        // A width above 4 writes no sample, so it reports no bytes either: a
        // count of bytes never written would be a failure reported as success.
        {5, 2, 1, 2, 1, 1, -2},  {8, 2, 1, 2, 1, 1, -2},  {INT_MAX, 2, 1, 2, 1, 1, -2},
    };
    for (const auto &c : cases) {
        Bytes frag = samples16({100, 200, 300, 400});
        const Bytes frag_before = frag;
        Bytes out(64, kGuardByte);
        int phase = c.phase;
        int previous[2] = {7, 8}, current[2] = {9, 10};
        EXPECT_EQ(impl().ratecv(reinterpret_cast<char *>(out.data()),
                         reinterpret_cast<char *>(frag.data()), 2, c.width, c.channels,
                         c.rate_in, c.rate_out, &phase, previous, current,
                         c.weight_new, c.weight_prev), 0)
            << c.width << " " << c.channels << " " << c.rate_in << " " << c.rate_out;
        EXPECT_EQ(out, Bytes(64, kGuardByte));
        EXPECT_EQ(frag, frag_before);
        EXPECT_EQ(phase, c.phase);
        EXPECT_EQ(std::vector<int>(previous, previous + 2), std::vector<int>({7, 8}));
        EXPECT_EQ(std::vector<int>(current, current + 2), std::vector<int>({9, 10}));
    }
    // An input claimed far larger than the output could count is refused
    // before anything of it is read.
    int phase = -1, previous = 0, current = 0;
    char byte = 0;
    EXPECT_EQ(impl().ratecv(&byte, &byte, SIZE_MAX / 4, 4, 1, 1, 1, &phase, &previous, &current,
                     1, 0), 0);
    EXPECT_EQ(phase, -1);
}

// --- helpers -----------------------------------------------------------------

TEST(RatecvHelpers, FrameCountRule) {
    struct Case { int phase; std::size_t nframes; int rate_in, rate_out; std::int64_t frames; };
    const Case cases[] = {
        {-2, 3, 1, 2, 5},   {-1, 6, 6, 3, 3},   {-5, 0, 1, 1, 0},  {-1, 1, 1, 1, 1},
        {0, 0, 1, 1, 1},    {3, 0, 2, 1, 2},    {-2, 1, 1, 1, 0},
        {-3, 10, 4, 2, 4},  // reduced to 2 and 1; unreduced would say 5
        {-1, 44100, 44100, 8000, 8000}, {-1, 48000, 48000, 44100, 44100},
        {INT_MIN, 0, 1, 1, 0}, {INT_MAX, 0, 1, 1, std::int64_t{INT_MAX} + 1},
        {INT_MAX, 0, INT_MAX, 1, 2},
        {-1, SIZE_MAX, 1, INT_MAX, INT64_MAX},
        // beyond the 64-bit range only where size_t itself is 64 bits wide
        {-1, SIZE_MAX / 2, 1, 3,
         sizeof(std::size_t) == 8 ? INT64_MAX : std::int64_t{3} * (SIZE_MAX / 2)},
        {0, 2, 0, 1, 0},    {0, 2, 1, 0, 0},    {0, 2, -1, -1, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(samplekit::ratecv_output_frames(c.phase, c.nframes, c.rate_in, c.rate_out),
                  c.frames) << c.phase << " " << c.nframes << " " << c.rate_in << " " << c.rate_out;
}

TEST(RatecvHelpers, SaturatingTruncation) {
    for (const auto &c : worked_cases::truncate_to_int32)
        EXPECT_EQ(samplekit::truncate_to_int32(c.value), c.expected) << c;
}

TEST_P(Ratecv, StreamInPiecesConvertsAsInOne) {
    using kivo_tests::pick;
    struct Case { int rate_in, rate_out, width, channels, weight_new, weight_prev; };
    const Case cases[] = {
        {44100, 8000, 2, 2, 1, 0},  {8000, 44100, 2, 1, 1, 0},  {44100, 48000, 2, 2, 1, 0},
        {48000, 44100, 3, 3, 3, 1}, {8000, 44100, 1, 4, 1, 1},  {44100, 8000, 4, 1, 2, 5},
        {44100, 48000, 1, 0, 1, 0},
    };
    constexpr std::size_t kFrames = 3000;
    for (const auto &c : cases) {
        const std::size_t frame_bytes = static_cast<std::size_t>(c.width * c.channels);
        const Bytes frag = kivo_tests::Buffer(kFrames * frame_bytes).bytes();
        const int start_phase = -(c.rate_out / std::gcd(c.rate_in, c.rate_out));
        Stream whole = fresh(start_phase, c.channels);
        const Bytes expected = run(impl(), frag, kFrames, c.width, c.channels, c.rate_in,
                                   c.rate_out, whole, c.weight_new, c.weight_prev);
        for (int round = 0; round < 5; ++round) {
            Stream s = fresh(start_phase, c.channels);
            Bytes joined;
            std::size_t done = 0;
            while (done < kFrames) {
                // Pieces of 0 frames and of a single frame are included.
                const auto piece = std::min(static_cast<std::size_t>(pick(0, round ? 400 : 2)),
                                            kFrames - done);
                const Bytes part(frag.begin() + static_cast<std::ptrdiff_t>(done * frame_bytes),
                                 frag.begin() + static_cast<std::ptrdiff_t>((done + piece) * frame_bytes));
                const Bytes out = run(impl(), part, piece, c.width, c.channels, c.rate_in, c.rate_out,
                                      s, c.weight_new, c.weight_prev);
                joined.insert(joined.end(), out.begin(), out.end());
                done += piece;
            }
            ASSERT_EQ(joined, expected) << c.rate_in << "->" << c.rate_out << " round " << round;
            EXPECT_EQ(s, whole);
        }
    }
}

// Every form against the plain one, and the plain one against the oracle, in
// one call and in pieces: every width (unusable ones too), 0 to 9 channels
// (past two groups of four, where a form takes channels in groups) and two
// counts above 8 (where a form takes them in passes of eight), carried values
// of any int, rates mostly small, sometimes common rates, large primes and the
// extremes of int, and weights of any size.
TEST(Differential, Ratecv) {
    using kivo_tests::Buffer;
    using kivo_tests::pick;
    const int weights[][2] = {{1, 0}, {0, 1}, {1, 1}, {3, 2}, {2, 2}};
    const int big_rates[] = {8000, 11025, 22050, 44100, 48000, 96000, 1000003, INT_MAX};
    for (int width : kivo_tests::kWidths)
        for (int channels : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 17})
            for (int round = 0; round < 40; ++round) {
                auto nframes = static_cast<std::size_t>(pick(0, 60));
                const int common = round % 2 ? 1 : 4000;   // reduced away
                int rate_in = pick(1, 12) * common;
                int rate_out = pick(1, 12) * common;
                if (round % 7 == 3) rate_in = big_rates[pick(0, 7)];
                if (round % 11 == 5) rate_out = big_rates[pick(0, 7)];
                int weight_new = weights[round % 5][0], weight_prev = weights[round % 5][1];
                if (round % 13 == 6) weight_new = pick(1, INT_MAX);
                if (round % 17 == 8) weight_prev = pick(1, INT_MAX);
                const int g = std::gcd(rate_in, rate_out);
                const int phase0 = pick(-rate_in / g, rate_out / g - 1);
                // An extreme ratio would write millions of frames from one
                // input frame: none then.
                constexpr std::int64_t kMaxFrames = 4000;
                if (samplekit::ratecv_output_frames(phase0, nframes, rate_in, rate_out) > kMaxFrames)
                    nframes = 0;
                if (samplekit::ratecv_output_frames(phase0, nframes, rate_in, rate_out) > kMaxFrames)
                    continue;
                const auto frame = static_cast<std::size_t>(channels * width);
                const Buffer in(nframes * frame);
                Stream start{phase0, {}, {}};
                for (int c = 0; c < channels; ++c) {
                    start.previous.push_back(pick(INT_MIN, INT_MAX));
                    start.current.push_back(pick(INT_MIN, INT_MAX));
                }
                const auto frames = static_cast<std::size_t>(
                    samplekit::ratecv_output_frames(phase0, nframes, rate_in, rate_out));
                const Buffer out(frames * frame);
                struct Run { Bytes out; Stream s; int bytes = 0; };
                auto run = [&](const Implementation &impl, std::size_t pieces) {
                    Buffer o(out);
                    Stream s = start;
                    int bytes = 0;
                    std::size_t done = 0;
                    for (std::size_t p = 1; p <= pieces; ++p) {
                        const std::size_t upto = p == pieces ? nframes : nframes * p / pieces;
                        bytes += impl.ratecv(o.chars() + bytes, in.chars() + done * frame,
                                             upto - done, width, channels, rate_in, rate_out,
                                             &s.phase, s.previous.data(), s.current.data(),
                                             weight_new, weight_prev);
                        done = upto;
                    }
                    Bytes written = o.bytes();
                    written.resize(static_cast<std::size_t>(bytes));
                    return Run{written, s, bytes};
                };
                SCOPED_TRACE(::testing::Message()
                             << "width " << width << " channels " << channels << " rates "
                             << rate_in << " " << rate_out << " weights " << weight_new << " "
                             << weight_prev);
                const Run want = run(samplekit::plain, 1);
                if (width >= 1 && width <= 4) {
                    Stream s = start;
                    Bytes expected;
                    ASSERT_EQ(reference_ratecv(expected, in.bytes(), nframes, width, channels,
                                               rate_in, rate_out, s, weight_new, weight_prev),
                              want.bytes);
                    ASSERT_EQ(want.out, expected);
                    ASSERT_EQ(want.s, s);
                }
                for (const Implementation *impl : kivo_tests::faster_forms())
                    for (std::size_t pieces : {std::size_t{1}, std::size_t{3}}) {
                        const Run got = run(*impl, pieces);
                        ASSERT_EQ(got.bytes, want.bytes) << impl->name << " " << pieces;
                        ASSERT_EQ(got.out, want.out) << impl->name << " " << pieces;
                        ASSERT_EQ(got.s, want.s) << impl->name << " " << pieces;
                    }
            }
}

}  // namespace
