// The shipped fragment routines against their plain scalar forms
// (samplekit::reference), byte for byte and state for state: every width (and
// widths outside 1 to 4), every length up to several vector blocks, every
// buffer at its own random misalignment from 0 to 63 bytes and ending exactly
// at the end of its allocation, so that the sanitizers see any access beyond.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <numeric>
#include <random>
#include <vector>

#include "ratecv.h"
#include "generic/reference.h"
#include "kernels.h"
#include "samplekit_decls.h"

namespace {

// Where a target ships the plain form itself, comparing it with the plain
// form proves nothing: the worked cases and the oracles test it there.
#define SKIP_WHERE_PLAIN_SHIPS(form)                                              \
    if (samplekit::shipped::form == samplekit::shipped::Form::plain)               \
    GTEST_SKIP() << "the plain form ships on this target"

std::mt19937 rng(13);

int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// n random bytes at a random offset 0..63 from a 64-byte boundary; the
// allocation ends with the buffer.
class Buffer {
public:
    explicit Buffer(std::size_t n) : offset_(static_cast<std::size_t>(pick(0, 63))), n_(n) {
        base_ = static_cast<unsigned char *>(::operator new(offset_ + n, std::align_val_t{64}));
        for (std::size_t k = 0; k < n; ++k) data()[k] = static_cast<unsigned char>(rng());
    }
    Buffer(const Buffer &other) : Buffer(other.n_) { std::memcpy(data(), other.data(), n_); }
    Buffer &operator=(const Buffer &) = delete;
    ~Buffer() { ::operator delete(base_, std::align_val_t{64}); }
    unsigned char *data() const { return base_ + offset_; }
    char *chars() const { return reinterpret_cast<char *>(data()); }
    std::vector<unsigned char> bytes() const { return {data(), data() + n_}; }

private:
    std::size_t offset_, n_;
    unsigned char *base_;
};

constexpr int kWidths[] = {0, 1, 2, 3, 4, 5};
constexpr std::size_t kMaxLen = 200;   // past several blocks of every kernel

// add streams its sums from 4 MiB on (widths 1, 2 and 4); one length past
// that, ending in single blocks and a partial sample.
std::vector<std::size_t> add_lengths() {
    std::vector<std::size_t> lengths(kMaxLen + 1);
    std::iota(lengths.begin(), lengths.end(), std::size_t{0});
    lengths.push_back((4 << 20) + 54);
    return lengths;
}

TEST(Kernels, AddMatchesReferenceWithAnyAliasing) {
    SKIP_WHERE_PLAIN_SHIPS(add_form);
    for (int width : kWidths)
        for (std::size_t len : add_lengths()) {
            if (len > kMaxLen && (width < 1 || width == 3 || width > 4)) continue;
            for (int alias = 0; alias < 3; ++alias) {   // out apart, = frag1, = frag2
                Buffer a(len), b(len), out(len);
                Buffer a2(a), b2(b), out2(out);
                auto target = [&](Buffer &o, Buffer &x, Buffer &y) {
                    return alias == 0 ? o.chars() : alias == 1 ? x.chars() : y.chars();
                };
                add(target(out, a, b), a.chars(), b.chars(), len, width);
                samplekit::reference::add(target(out2, a2, b2), a2.chars(), b2.chars(), len, width);
                ASSERT_EQ(out.bytes(), out2.bytes()) << width << " " << len << " " << alias;
                ASSERT_EQ(a.bytes(), a2.bytes()) << width << " " << len << " " << alias;
                ASSERT_EQ(b.bytes(), b2.bytes()) << width << " " << len << " " << alias;
            }
        }
}

TEST(Kernels, TostereoMatchesReferenceForAnyGain) {
    SKIP_WHERE_PLAIN_SHIPS(tostereo_form);
    const double inf = std::numeric_limits<double>::infinity();
    // Gains at and just past the largest that no sample of widths 1 and 2
    // can saturate: 127/128 and 32767/32768.
    const double gains[] = {0.0, -0.0, 1.0, -1.0, 0.7, -1.3, 0.999, 2.0, 1e-300,
                            0.9921875, -0.99219, 0.999969482421875, 0.99997,
                            1e300, -1e300, inf, -inf, std::nan("")};
    for (int width : kWidths)
        for (std::size_t len = 0; len <= kMaxLen; ++len)
            for (double lgain : gains) {
                const double rgain = gains[pick(0, static_cast<int>(std::size(gains)) - 1)];
                Buffer in(len), out(2 * len);
                Buffer out2(out);
                tostereo(out.chars(), in.chars(), len, width, lgain, rgain);
                samplekit::reference::tostereo(out2.chars(), in.chars(), len, width, lgain, rgain);
                ASSERT_EQ(out.bytes(), out2.bytes()) << width << " " << len << " " << lgain
                                                     << " " << rgain;
            }
}

TEST(Kernels, AdpcmMatchesReferenceFromAnyState) {
    using samplekit::shipped::Form;
    if (samplekit::shipped::lin2adcpm_form == Form::plain &&
        samplekit::shipped::adcpm2lin_form == Form::plain)
        GTEST_SKIP() << "the plain forms ship on this target";
    using Coder = void(unsigned char *, unsigned char *, std::size_t, std::size_t, int *);
    struct Direction {
        Coder *shipped, *plain;
        std::size_t out_per_len_num, out_per_len_den;
        Form form;
    };
    for (int width : kWidths)
        for (std::size_t len = 0; len <= kMaxLen; ++len) {
            const auto w = static_cast<std::size_t>(width);
            const Direction directions[] = {
                {lin2adcpm, samplekit::reference::lin2adcpm, 1, 2 * (w ? w : 1),
                 samplekit::shipped::lin2adcpm_form},
                {adcpm2lin, samplekit::reference::adcpm2lin, 2 * w, 1,
                 samplekit::shipped::adcpm2lin_form}};
            for (const Direction &d : directions) {
                if (d.form == Form::plain) continue;
                Buffer in(len), out(len * d.out_per_len_num / d.out_per_len_den);
                Buffer out2(out);
                int state[2] = {pick(-40000, 40000), pick(-3, 91)};
                if (len % 7 == 0) state[0] = pick(INT32_MIN, INT32_MAX);
                int state2[2] = {state[0], state[1]};
                d.shipped(out.data(), in.data(), len, w, state);
                d.plain(out2.data(), in.data(), len, w, state2);
                ASSERT_EQ(out.bytes(), out2.bytes()) << width << " " << len;
                ASSERT_EQ(std::vector<int>(state, state + 2), std::vector<int>(state2, state2 + 2));
            }
        }
}

// One call of the shipped form against one call of the plain form, and the
// shipped form in pieces against its one call.
TEST(Kernels, RatecvMatchesReferenceWholeAndInPieces) {
    SKIP_WHERE_PLAIN_SHIPS(ratecv_form);
    const int weights[][2] = {{1, 0}, {0, 1}, {1, 1}, {3, 2}, {2, 2}};
    for (int width : kWidths)
        for (int channels = 0; channels <= 5; ++channels)
            for (int round = 0; round < 40; ++round) {
                const auto nframes = static_cast<std::size_t>(pick(0, 60));
                const int common = round % 2 ? 1 : 4000;   // reduced away
                const int rate_in = pick(1, 12) * common;
                const int rate_out = pick(1, 12) * common;
                const auto *wt = weights[pick(0, 4)];
                const auto frame = static_cast<std::size_t>(channels * width);
                Buffer in(nframes * frame);
                std::vector<int> state(static_cast<std::size_t>(2 * channels));
                for (int &v : state) v = pick(INT32_MIN, INT32_MAX);
                const int g = std::gcd(rate_in, rate_out);
                const int phase0 = pick(-rate_in / g, rate_out / g - 1);
                const auto frames = static_cast<std::size_t>(
                    samplekit::ratecv_output_frames(phase0, nframes, rate_in, rate_out));
                const Buffer out0(frames * frame);
                struct Run { Buffer out; std::vector<int> state; int phase; int bytes = 0; };
                auto run = [&](auto routine, std::size_t pieces) {
                    Run r{Buffer(out0), state, phase0};
                    std::size_t done = 0;
                    for (std::size_t p = 1; p <= pieces; ++p) {
                        const std::size_t upto = p == pieces ? nframes : nframes * p / pieces;
                        r.bytes += routine(r.out.chars() + r.bytes,
                                           in.chars() + done * frame, upto - done, width,
                                           channels, rate_in, rate_out, &r.phase,
                                           r.state.data(), r.state.data() + channels, wt[0], wt[1]);
                        done = upto;
                    }
                    return r;
                };
                const Run plain = run(samplekit::reference::ratecv, 1);
                for (std::size_t pieces : {std::size_t{1}, std::size_t{3}}) {
                    const Run shipped = run(ratecv, pieces);
                    const auto n = static_cast<std::size_t>(plain.bytes);
                    ASSERT_EQ(shipped.bytes, plain.bytes);
                    ASSERT_EQ(std::vector<unsigned char>(shipped.out.data(), shipped.out.data() + n),
                              std::vector<unsigned char>(plain.out.data(), plain.out.data() + n));
                    ASSERT_EQ(shipped.phase, plain.phase);
                    ASSERT_EQ(shipped.state, plain.state) << width << " " << channels;
                }
            }
}

}  // namespace
