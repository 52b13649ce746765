#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <iterator>
#include <random>
#include <vector>

#include "forms.h"
#include "worked_cases.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct State {
    int predicted;
    int step_index;
    bool operator==(const State &) const = default;
};

std::ostream &operator<<(std::ostream &os, const State &s) {
    return os << "(" << s.predicted << ", " << s.step_index << ")";
}

// --- plain reference coder ------------------------------------------------------
// One sample at a time, byte arithmetic written out, the prediction kept in
// 64 bits so that any predicted value at entry is taken exactly as it is.
namespace ref {

using worked_cases::adpcm_index_adjust;
using worked_cases::adpcm_step_sizes;
static_assert(std::size(adpcm_index_adjust) == 16 && std::size(adpcm_step_sizes) == 89);

int clamp_index(long long i) { return i < 0 ? 0 : i > 88 ? 88 : static_cast<int>(i); }
long long clamp16(long long p) { return p < -32768 ? -32768 : p > 32767 ? 32767 : p; }

// The top two bytes of the sample; width 1 is its byte times 256.
int sample16(const unsigned char *p, std::size_t width) {
    if (width == 1) return static_cast<signed char>(p[0]) * 256;
    return static_cast<signed char>(p[width - 1]) * 256 + p[width - 2];
}

void put16(unsigned char *p, std::size_t width, long long v) {
    const auto u = static_cast<std::uint16_t>(v);
    if (width == 1) {
        p[0] = static_cast<unsigned char>(u >> 8);
        return;
    }
    for (std::size_t i = 0; i + 2 < width; ++i) p[i] = 0;
    p[width - 2] = static_cast<unsigned char>(u & 0xFF);
    p[width - 1] = static_cast<unsigned char>(u >> 8);
}

struct Coded {
    Bytes bytes;                  // what the routine writes
    std::vector<int> codes;       // every code, also a dropped odd last one
    std::vector<int> predicted;   // predicted value after each sample
    State end;
};

Coded encode(const Bytes &in, std::size_t width, State s) {
    Coded r;
    long long p = s.predicted;
    int index = clamp_index(s.step_index);
    int step = adpcm_step_sizes[index];
    bool first = true;
    int pending = 0;
    for (std::size_t off = 0; off + width <= in.size(); off += width) {
        long long diff = sample16(&in[off], width) - p;
        int sign = 0;
        if (diff < 0) {
            sign = 8;
            diff = -diff;
        }
        int code = 0;
        long long delta = step >> 3;
        if (diff >= step) { code = 4; diff -= step; delta += step; }
        if (diff >= step >> 1) { code |= 2; diff -= step >> 1; delta += step >> 1; }
        if (diff >= step >> 2) { code |= 1; delta += step >> 2; }
        p = clamp16(sign ? p - delta : p + delta);
        code |= sign;
        index = clamp_index(index + adpcm_index_adjust[code]);
        step = adpcm_step_sizes[index];
        r.codes.push_back(code);
        r.predicted.push_back(static_cast<int>(p));
        if (first) pending = code << 4;
        else r.bytes.push_back(static_cast<unsigned char>(pending | code));
        first = !first;
    }
    r.end = {r.codes.empty() ? s.predicted : static_cast<int>(p), index};
    return r;
}

Coded decode(const Bytes &in, std::size_t width, State s) {
    Coded r;
    long long p = s.predicted;
    int index = clamp_index(s.step_index);
    int step = adpcm_step_sizes[index];
    for (std::size_t k = 0; k < 2 * in.size(); ++k) {
        const int code = (k % 2 == 0) ? in[k / 2] >> 4 : in[k / 2] & 0x0F;
        index = clamp_index(index + adpcm_index_adjust[code]);
        long long delta = step >> 3;
        if (code & 4) delta += step;
        if (code & 2) delta += step >> 1;
        if (code & 1) delta += step >> 2;
        p = clamp16((code & 8) ? p - delta : p + delta);
        step = adpcm_step_sizes[index];
        r.codes.push_back(code);
        r.predicted.push_back(static_cast<int>(p));
        r.bytes.resize(r.bytes.size() + width);
        put16(&r.bytes[r.bytes.size() - width], width, p);
    }
    r.end = {in.empty() ? s.predicted : static_cast<int>(p), index};
    return r;
}

}  // namespace ref

// --- the module's routines, with guard bytes after the expected output -------

constexpr std::size_t kGuard = 16;
constexpr unsigned char kGuardByte = 0xA5;

struct Result {
    Bytes out;
    State end;
};

// The input is passed from a buffer of exactly its size, so any read past
// len shows under AddressSanitizer.
template <typename Routine>
Result run(const Routine &routine, const Bytes &in, std::size_t width, State s,
           std::size_t expected_out) {
    Bytes input(in);
    Bytes out(expected_out + kGuard, kGuardByte);
    int state[2] = {s.predicted, s.step_index};
    routine(out.data(), input.data(), input.size(), width, state);
    for (std::size_t i = expected_out; i < out.size(); ++i)
        EXPECT_EQ(out[i], kGuardByte) << "byte " << i << " past the output";
    out.resize(expected_out);
    return {out, {state[0], state[1]}};
}

using kivo_tests::Implementation;
using kivo_tests::runnable;

Result encode(const Implementation &impl, const Bytes &in, std::size_t width, State s) {
    return run(impl.lin2adcpm, in, width, s, in.size() / width / 2);
}

Result decode(const Implementation &impl, const Bytes &in, std::size_t width, State s) {
    return run(impl.adcpm2lin, in, width, s, in.size() * width * 2);
}

// 16-bit values as a fragment of the width; the low bytes of widths 3 and 4
// are filled from fill (they must not matter).
Bytes fragment(const std::vector<int> &values, std::size_t width, std::mt19937 *fill = nullptr) {
    Bytes b(values.size() * width);
    for (std::size_t k = 0; k < values.size(); ++k) {
        ref::put16(&b[k * width], width, values[k]);
        if (fill)
            for (std::size_t i = 0; i + 2 < width; ++i)
                b[k * width + i] = static_cast<unsigned char>((*fill)());
    }
    return b;
}

// A mixture of signals that reach every code and both saturation ends.
std::vector<int> random_signal(std::mt19937 &rng, std::size_t n) {
    std::vector<int> v(n);
    const unsigned kind = rng() % 4;
    int x = static_cast<int>(rng() % 65536) - 32768;
    const int spread = 1 << (rng() % 17);
    for (auto &s : v) {
        switch (kind) {
        case 0: x = static_cast<int>(rng() % 65536) - 32768; break;   // noise
        case 1: x += static_cast<int>(rng() % static_cast<unsigned>(2 * spread + 1)) - spread; break;
        case 2: x = (rng() % 8 == 0) ? -x - 1 : x; break;   // square-ish
        default: x = (rng() % 2) ? 32767 : -32768; break;
        }
        x = x < -32768 ? -32768 : x > 32767 ? 32767 : x;
        s = x;
    }
    return v;
}

State random_state(std::mt19937 &rng) {
    static const int edge_predicted[] = {INT_MIN, INT_MIN + 1, -65536, -32769, -32768,
                                         0,       32767,       32768,  65536,  INT_MAX};
    static const int edge_index[] = {0, 1, 87, 88, -1, 89, INT_MIN, INT_MAX};
    State s;
    switch (rng() % 3) {
    case 0: s.predicted = edge_predicted[rng() % 10]; break;
    case 1: s.predicted = static_cast<int>(rng() % 65536) - 32768; break;
    default: s.predicted = static_cast<int>(rng()); break;
    }
    s.step_index = (rng() % 4 == 0) ? edge_index[rng() % 8] : static_cast<int>(rng() % 89);
    return s;
}

// --- worked cases -----------------------------------------------------------------

Bytes bytes(worked_cases::Bytes b) { return {b.begin(), b.end()}; }

class AdpcmEncodeCases : public ::testing::TestWithParam<worked_cases::AdpcmEncodeRow> {};
class AdpcmDecodeCases : public ::testing::TestWithParam<worked_cases::AdpcmDecodeRow> {};

// Every form, and the plain coder, held to a row.
template <typename Row>
void expect_row(const Row &c, bool encoder, worked_cases::Bytes input, worked_cases::Bytes out) {
    const Bytes in = bytes(input);
    const auto width = static_cast<std::size_t>(c.width);
    const State start{c.start_predicted, c.start_index}, end{c.end_predicted, c.end_index};
    for (const Implementation *impl : runnable()) {
        const Result got = encoder ? encode(*impl, in, width, start) : decode(*impl, in, width, start);
        EXPECT_EQ(got.out, bytes(out)) << impl->name;
        EXPECT_EQ(got.end, end) << impl->name;
    }
    const ref::Coded plain = encoder ? ref::encode(in, width, start) : ref::decode(in, width, start);
    EXPECT_EQ(plain.bytes, bytes(out));
    EXPECT_EQ(plain.end, end);
}

TEST_P(AdpcmEncodeCases, CodesAndEndState) {
    expect_row(GetParam(), true, GetParam().samples, GetParam().codes);
}

TEST_P(AdpcmDecodeCases, SamplesAndEndState) {
    expect_row(GetParam(), false, GetParam().codes, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(WorkedCases, AdpcmEncodeCases,
                         ::testing::ValuesIn(worked_cases::adpcm_encode));
INSTANTIATE_TEST_SUITE_P(WorkedCases, AdpcmDecodeCases,
                         ::testing::ValuesIn(worked_cases::adpcm_decode));

// --- broken preconditions -----------------------------------------------------

class Adpcm : public kivo_tests::EveryForm {};
KIVO_FOR_EVERY_FORM(Adpcm);

TEST_P(Adpcm, OtherWidthsWriteNothingAndKeepTheState) {
    const std::size_t widths[] = {0, 5, 8, SIZE_MAX, SIZE_MAX - 1,
                                  (std::size_t{1} << (sizeof(std::size_t) * 4)) + 2};
    const Bytes in(12, 0x5A);
    for (std::size_t width : widths) {
        for (const auto &routine : {impl().lin2adcpm, impl().adcpm2lin}) {
            const Result got = run(routine, in, width, {12345, 200}, 0);
            EXPECT_EQ(got.end, (State{12345, 200})) << width;
        }
    }
}

TEST_P(Adpcm, StepIndexIsClampedOnEntry) {
    const Bytes samples = fragment({1000, -1000, 5000, 20000, -32768}, 2);
    const Bytes codes = {0x7F, 0x08, 0xC3};
    const struct { int given, used; } rows[] = {
        {-1, 0}, {INT_MIN, 0}, {89, 88}, {INT_MAX, 88}, {1000, 88}};
    for (const auto &r : rows) {
        EXPECT_EQ(encode(impl(), samples, 2, {7, r.given}).out, encode(impl(), samples, 2, {7, r.used}).out);
        EXPECT_EQ(encode(impl(), samples, 2, {7, r.given}).end, encode(impl(), samples, 2, {7, r.used}).end);
        EXPECT_EQ(decode(impl(), codes, 2, {7, r.given}).out, decode(impl(), codes, 2, {7, r.used}).out);
        EXPECT_EQ(decode(impl(), codes, 2, {7, r.given}).end, decode(impl(), codes, 2, {7, r.used}).end);
        // With nothing to code the index still goes back clamped.
        EXPECT_EQ(encode(impl(), {}, 2, {7, r.given}).end, (State{7, r.used}));
        EXPECT_EQ(decode(impl(), {}, 2, {7, r.given}).end, (State{7, r.used}));
    }
}

// --- properties ---------------------------------------------------------------------

TEST_P(Adpcm, DecodingTheCodesRetracesTheEncodersPrediction) {
    std::mt19937 rng(99);
    for (int run_no = 0; run_no < 3000; ++run_no) {
        const std::size_t width = 1 + rng() % 4;
        const State start = random_state(rng);
        const std::size_t n = rng() % 64;
        const Bytes in = fragment(random_signal(rng, n), width, &rng);
        const Result coded = encode(impl(), in, width, start);
        const auto predicted = ref::encode(in, width, start).predicted;
        const Result lin = decode(impl(), coded.out, 2, start);
        ASSERT_EQ(lin.out.size(), 2 * (n / 2) * 2);
        for (std::size_t k = 0; k < 2 * (n / 2); ++k) {
            const int value = static_cast<std::int16_t>(lin.out[2 * k] | lin.out[2 * k + 1] << 8);
            ASSERT_EQ(value, predicted[k]) << "run " << run_no << " sample " << k;
        }
        if (n % 2 == 0) {
            EXPECT_EQ(lin.end, coded.end) << "run " << run_no;
        }
    }
}

TEST_P(Adpcm, SplitStreamsCodeAsInOnePiece) {
    std::mt19937 rng(5);
    for (int run_no = 0; run_no < 400; ++run_no) {
        const std::size_t width = 1 + rng() % 4;
        const std::size_t n = 2 * (rng() % 200);
        const State start = random_state(rng);
        const Bytes in = fragment(random_signal(rng, n), width, &rng);
        const Result whole = encode(impl(), in, width, start);
        std::vector<int> codes;   // all n codes of the one-piece run
        for (unsigned char b : whole.out) {
            codes.push_back(b >> 4);
            codes.push_back(b & 0x0F);
        }

        // Pieces of random whole-sample lengths, odd and empty ones too: each
        // starts a fresh pair and loses its odd last code.
        Bytes pieces_out, expected_out;
        State s = start;
        for (std::size_t k = 0; k < n;) {
            const std::size_t len = std::min<std::size_t>(rng() % 9, n - k);
            const Bytes piece(in.begin() + static_cast<long>(k * width),
                              in.begin() + static_cast<long>((k + len) * width));
            const Result got = encode(impl(), piece, width, s);
            pieces_out.insert(pieces_out.end(), got.out.begin(), got.out.end());
            for (std::size_t j = 0; j + 1 < len; j += 2)
                expected_out.push_back(static_cast<unsigned char>(
                    codes[k + j] << 4 | codes[k + j + 1]));
            s = got.end;
            k += len;
        }
        ASSERT_EQ(pieces_out, expected_out) << "run " << run_no;
        ASSERT_EQ(s, whole.end) << "run " << run_no;

        // The decoder has no pairs to lose: any split gives the same output.
        const Result lin_whole = decode(impl(), whole.out, width, start);
        Bytes lin_pieces;
        s = start;
        for (std::size_t k = 0; k < whole.out.size();) {
            const std::size_t len = std::min<std::size_t>(rng() % 5, whole.out.size() - k);
            const Result got = decode(impl(), Bytes(whole.out.begin() + static_cast<long>(k),
                                            whole.out.begin() + static_cast<long>(k + len)),
                                      width, s);
            lin_pieces.insert(lin_pieces.end(), got.out.begin(), got.out.end());
            s = got.end;
            k += len;
        }
        ASSERT_EQ(lin_pieces, lin_whole.out) << "run " << run_no;
        ASSERT_EQ(s, lin_whole.end) << "run " << run_no;
    }
}

TEST_P(Adpcm, EncoderSeesOnlyTheSixteenBitValue) {
    std::mt19937 rng(3);
    for (int run_no = 0; run_no < 300; ++run_no) {
        const State start = random_state(rng);
        std::vector<int> values = random_signal(rng, rng() % 50);
        const Result base = encode(impl(), fragment(values, 2), 2, start);
        for (std::size_t width : {3u, 4u}) {
            const Result got = encode(impl(), fragment(values, width, &rng), width, start);
            ASSERT_EQ(got.out, base.out) << width;
            ASSERT_EQ(got.end, base.end) << width;
        }
        // Width 1 is its byte times 256.
        for (auto &v : values) v = v / 256 * 256;
        ASSERT_EQ(encode(impl(), fragment(values, 1), 1, start).out,
                  encode(impl(), fragment(values, 2), 2, start).out);
    }
}

// Every form against the plain one, and the plain one against the oracle:
// every width (unusable ones too), every length up to several blocks, from
// states at and beyond the edges, each buffer misaligned and ending at its
// allocation. The encoder codes signals that reach every code and both ends
// of the range, the decoder any codes.
TEST(Differential, Adpcm) {
    std::mt19937 rng(2024);
    for (int width : kivo_tests::kWidths)
        for (std::size_t len = 0; len <= kivo_tests::kMaxLen; ++len) {
            const auto w = static_cast<std::size_t>(width);
            const bool usable = w >= 1 && w <= 4;
            const State start = random_state(rng);
            for (const bool encoder : {true, false}) {
                Bytes in(len);
                for (auto &b : in) b = static_cast<unsigned char>(rng());
                if (encoder && usable) {   // whole samples of a signal, then the rest
                    const Bytes signal = fragment(random_signal(rng, len / w), w, &rng);
                    std::copy(signal.begin(), signal.end(), in.begin());
                }
                const kivo_tests::Buffer input(in), out(encoder ? len / (2 * (usable ? w : 1))
                                                                : 2 * w * len);
                auto run = [&](const Implementation &impl) {
                    kivo_tests::Buffer o(out);
                    int state[2] = {start.predicted, start.step_index};
                    (encoder ? impl.lin2adcpm : impl.adcpm2lin)(o.data(), input.data(), len, w,
                                                                state);
                    return Result{o.bytes(), {state[0], state[1]}};
                };
                const Result want = run(samplekit::plain);
                if (usable) {
                    const ref::Coded expected = encoder ? ref::encode(in, w, start)
                                                        : ref::decode(in, w, start);
                    ASSERT_EQ(want.out, expected.bytes) << "plain form " << width << " " << len;
                    ASSERT_EQ(want.end, expected.end) << "plain form " << width << " " << len;
                }
                for (const Implementation *impl : kivo_tests::faster_forms()) {
                    const Result got = run(*impl);
                    ASSERT_EQ(got.out, want.out) << impl->name << " " << width << " " << len;
                    ASSERT_EQ(got.end, want.end) << impl->name << " " << width << " " << len;
                }
            }
        }
}

}  // namespace
