#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "ratecv.h"
#include "samplekit_decls.h"
#include "worked_cases.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t kGuard = 32;
constexpr unsigned char kGuardByte = 0xA5;

struct Stream {
    int phase;
    std::vector<int> previous, current;
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

// Calls ratecv with an output sized by the frame-count rule plus guard bytes,
// and checks the result against the rule and the guard bytes afterwards.
Bytes run(const Bytes &frag, std::size_t nframes, int width, int channels, int rate_in,
          int rate_out, Stream &s, int weight_new, int weight_prev) {
    const std::int64_t frames =
        samplekit::ratecv_output_frames(s.phase, nframes, rate_in, rate_out);
    const auto bytes = static_cast<std::size_t>(frames * channels * width);
    Bytes out(bytes + kGuard, kGuardByte);
    Bytes input = frag;
    input.push_back(0);   // data() of an empty input still points somewhere
    const int result = ratecv(reinterpret_cast<char *>(out.data()),
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

// The routine and the plain reference are both held to each row: output,
// byte count, phase and both arrays.
TEST_P(RatecvCases, OutputAndStream) {
    const auto &c = GetParam();
    const Bytes in(c.in.begin(), c.in.end());
    const Bytes expected(c.out.begin(), c.out.end());
    const std::size_t nframes = in.size() / static_cast<std::size_t>(c.width * c.channels);
    const Stream start{c.phase, ints(c.previous), ints(c.current)};
    Stream s = start;
    EXPECT_EQ(run(in, nframes, c.width, c.channels, c.rate_in, c.rate_out, s, c.weight_new,
                  c.weight_prev),
              expected);
    EXPECT_EQ(s.phase, c.end_phase);
    EXPECT_EQ(s.previous, ints(c.end_previous));
    EXPECT_EQ(s.current, ints(c.end_current));

    Stream plain = start;
    Bytes plain_out;
    EXPECT_EQ(reference_ratecv(plain_out, in, nframes, c.width, c.channels, c.rate_in,
                               c.rate_out, plain, c.weight_new, c.weight_prev),
              static_cast<int>(expected.size()));
    EXPECT_EQ(plain_out, expected);
    EXPECT_EQ(plain.phase, c.end_phase);
    EXPECT_EQ(plain.previous, ints(c.end_previous));
    EXPECT_EQ(plain.current, ints(c.end_current));
}

INSTANTIATE_TEST_SUITE_P(WorkedCases, RatecvCases, ::testing::ValuesIn(worked_cases::ratecv));

TEST(Ratecv, NoChannelsAdvancesOnlyThePhase) {
    Stream s = fresh(-2, 0);
    EXPECT_TRUE(run(samples16({1, 2, 3}), 3, 2, 0, 1, 2, s, 1, 0).empty());
    EXPECT_EQ(s.phase, -1);
    // However many frames are claimed, nothing is read and the call is quick.
#ifdef __SIZEOF_INT128__
    __extension__ typedef __int128 Wide;
#else
    typedef long long Wide;   // a 32-bit size_t times an int fits in 64 bits
    static_assert(sizeof(std::size_t) == 4);
#endif
    struct Case { int phase, rate_in, rate_out; std::size_t nframes; };
    const Case cases[] = {
        {-1, 3, 2, SIZE_MAX},          {-5, 44100, 8000, SIZE_MAX / 3},
        {INT_MIN, 7, 5, SIZE_MAX - 1}, {-2, 2, 1, 1},
        {-9, 2, 1, 4},
    };
    for (const auto &c : cases) {
        int phase = c.phase;
        char byte = 0;
        EXPECT_EQ(ratecv(&byte, &byte, c.nframes, 2, 0, c.rate_in, c.rate_out, &phase,
                         nullptr, nullptr, 1, 0), 0);
        const int g = std::gcd(c.rate_in, c.rate_out);
        const Wide in = c.rate_in / g;
        const Wide p = c.phase + static_cast<Wide>(c.nframes) * (c.rate_out / g);
        EXPECT_EQ(phase, static_cast<int>(p < 0 ? p : p % in - in)) << c.nframes;
    }
}

// --- broken preconditions ------------------------------------------------------

TEST(Ratecv, SenselessArgumentsTouchNothing) {
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
    };
    for (const auto &c : cases) {
        Bytes frag = samples16({100, 200, 300, 400});
        const Bytes frag_before = frag;
        Bytes out(64, kGuardByte);
        int phase = c.phase;
        int previous[2] = {7, 8}, current[2] = {9, 10};
        EXPECT_EQ(ratecv(reinterpret_cast<char *>(out.data()),
                         reinterpret_cast<char *>(frag.data()), 2, c.width, c.channels,
                         c.rate_in, c.rate_out, &phase, previous, current,
                         c.weight_new, c.weight_prev), 0)
            << c.width << " " << c.channels << " " << c.rate_in << " " << c.rate_out;
        EXPECT_EQ(out, Bytes(64, kGuardByte));
        EXPECT_EQ(frag, frag_before);
        EXPECT_EQ(phase, c.phase);
        EXPECT_EQ(previous[0], 7);
        EXPECT_EQ(previous[1], 8);
        EXPECT_EQ(current[0], 9);
        EXPECT_EQ(current[1], 10);
    }
    // An input claimed far larger than the output could count is refused
    // before anything of it is read.
    int phase = -1, previous = 0, current = 0;
    char byte = 0;
    EXPECT_EQ(ratecv(&byte, &byte, SIZE_MAX / 4, 4, 1, 1, 1, &phase, &previous, &current,
                     1, 0), 0);
    EXPECT_EQ(phase, -1);
}

// A width above 4 writes no sample, so it reports no bytes either: a count
// of bytes never written would be a failure reported as success.
TEST(Ratecv, WidthAboveFourIsRefused) {
    for (const int width : {5, 8, INT_MAX}) {
        Stream s{-2, {5, 6}, {7, 8}};
        Bytes frag(60, 0x11);
        Bytes out(16, kGuardByte);
        EXPECT_EQ(ratecv(reinterpret_cast<char *>(out.data()),
                         reinterpret_cast<char *>(frag.data()), 3, width, 2, 1, 2, &s.phase,
                         s.previous.data(), s.current.data(), 1, 1),
                  0);
        EXPECT_EQ(out, Bytes(16, kGuardByte));
        EXPECT_EQ(s.phase, -2);
        EXPECT_EQ(s.previous, std::vector<int>({5, 6}));
        EXPECT_EQ(s.current, std::vector<int>({7, 8}));
    }
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

// --- against the reference -------------------------------------------------------

Bytes random_bytes(std::mt19937 &rng, std::size_t n) {
    Bytes b(n);
    for (auto &x : b) x = static_cast<unsigned char>(rng());
    return b;
}

int random_int(std::mt19937 &rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

TEST(Ratecv, MatchesTheReferenceAtRandom) {
    std::mt19937 rng(2024);
    const int big_rates[] = {8000, 11025, 22050, 44100, 48000, 96000, 1000003, INT_MAX};
    int compared = 0;
    for (int iter = 0; iter < 4000; ++iter) {
        const int width = 1 + iter % 4;
        const int channels = (iter / 4) % 5;
        int rate_in = random_int(rng, 1, 12), rate_out = random_int(rng, 1, 12);
        if (iter % 7 == 0) rate_in = big_rates[random_int(rng, 0, 7)];
        if (iter % 11 == 0) rate_out = big_rates[random_int(rng, 0, 7)];
        int weight_new = random_int(rng, 0, 6), weight_prev = random_int(rng, 0, 6);
        if (iter % 5 == 0) weight_new = random_int(rng, 0, INT_MAX);
        if (iter % 9 == 0) weight_prev = random_int(rng, 0, INT_MAX);
        if (weight_new == 0 && weight_prev == 0) weight_new = 1;
        // Phases within the documented range of the reduced rates.
        const int g = std::gcd(rate_in, rate_out);
        const std::int64_t frames_limit = 4000;
        std::size_t nframes = static_cast<std::size_t>(random_int(rng, 0, 30));
        Stream s{random_int(rng, -(rate_in / g), rate_out / g - 1), {}, {}};
        if (samplekit::ratecv_output_frames(s.phase, nframes, rate_in, rate_out) > frames_limit)
            nframes = 1;   // an extreme ratio: keep the output small
        if (samplekit::ratecv_output_frames(s.phase, nframes, rate_in, rate_out) > frames_limit)
            continue;
        for (int c = 0; c < channels; ++c) {
            s.previous.push_back(static_cast<int>(rng()));
            s.current.push_back(static_cast<int>(rng()));
        }
        const Bytes frag = random_bytes(rng, nframes * static_cast<std::size_t>(channels * width));
        Stream expected_state = s;
        Bytes expected;
        const int expected_result =
            reference_ratecv(expected, frag, nframes, width, channels, rate_in, rate_out,
                             expected_state, weight_new, weight_prev);
        const Bytes out = run(frag, nframes, width, channels, rate_in, rate_out, s,
                              weight_new, weight_prev);
        ASSERT_EQ(static_cast<int>(out.size()), expected_result) << iter;
        ASSERT_EQ(out, expected) << iter;
        ASSERT_EQ(s.phase, expected_state.phase) << iter;
        ASSERT_EQ(s.previous, expected_state.previous) << iter;
        ASSERT_EQ(s.current, expected_state.current) << iter;
        ++compared;
    }
    EXPECT_GT(compared, 3500);
}

TEST(Ratecv, StreamInPiecesConvertsAsInOne) {
    std::mt19937 rng(7);
    struct Case { int rate_in, rate_out, width, channels, weight_new, weight_prev; };
    const Case cases[] = {
        {44100, 8000, 2, 2, 1, 0},  {8000, 44100, 2, 1, 1, 0},  {44100, 48000, 2, 2, 1, 0},
        {48000, 44100, 3, 3, 3, 1}, {8000, 44100, 1, 4, 1, 1},  {44100, 8000, 4, 1, 2, 5},
        {44100, 48000, 1, 0, 1, 0},
    };
    constexpr std::size_t kFrames = 3000;
    for (const auto &c : cases) {
        const std::size_t frame_bytes = static_cast<std::size_t>(c.width * c.channels);
        const Bytes frag = random_bytes(rng, kFrames * frame_bytes);
        const int start_phase = -(c.rate_out / std::gcd(c.rate_in, c.rate_out));
        Stream whole = fresh(start_phase, c.channels);
        const Bytes expected = run(frag, kFrames, c.width, c.channels, c.rate_in,
                                   c.rate_out, whole, c.weight_new, c.weight_prev);
        for (int round = 0; round < 5; ++round) {
            Stream s = fresh(start_phase, c.channels);
            Bytes joined;
            std::size_t done = 0;
            while (done < kFrames) {
                // Pieces of 0 frames and of a single frame are included.
                std::size_t piece = static_cast<std::size_t>(random_int(rng, 0, 400));
                if (round == 0) piece = static_cast<std::size_t>(random_int(rng, 0, 2));
                piece = std::min(piece, kFrames - done);
                const Bytes part(frag.begin() + static_cast<std::ptrdiff_t>(done * frame_bytes),
                                 frag.begin() + static_cast<std::ptrdiff_t>((done + piece) * frame_bytes));
                const Bytes out = run(part, piece, c.width, c.channels, c.rate_in, c.rate_out,
                                      s, c.weight_new, c.weight_prev);
                joined.insert(joined.end(), out.begin(), out.end());
                done += piece;
            }
            ASSERT_EQ(joined, expected) << c.rate_in << "->" << c.rate_out << " round " << round;
            EXPECT_EQ(s.phase, whole.phase);
            EXPECT_EQ(s.previous, whole.previous);
            EXPECT_EQ(s.current, whole.current);
        }
    }
}

}  // namespace
