// The calls the fuzz targets make: one routine each, with every argument
// taken from the input. Every form of the routine that the build compiled
// and this processor runs is called on copies of the same buffers and state,
// twice, with the output pre-filled with 0x00 and with 0xFF. Each must give
// the plain form's bytes, result and carried state; every byte the routine
// promises to write must be written (the two runs agree there) and no other
// byte of the output may change.
#include "fuzz_calls.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "core/ratecv_frame.h"
#include "runnable.h"

namespace fuzz {
namespace {

// What a call leaves besides its output: its result and the carried state.
using Result = std::vector<long long>;

bool usable_width(long long width) { return width >= 1 && width <= 4; }

// Runs call(form, out) for every form and both fills of an output of
// out_size bytes, of which the first `promised` must be written. Where the
// output is also an input (`aliased`), the call fills it itself and only the
// agreement of the forms is checked.
template <typename Call>
void compare_forms(std::size_t out_size, std::size_t promised, bool aliased, Call call) {
    std::vector<unsigned char> runs[2];
    const unsigned char fills[2] = {0x00, 0xFF};
    for (int k = 0; k < 2; ++k) {
        Block plain(out_size);
        plain.fill(fills[k]);
        const Result want = call(samplekit::plain, plain);
        if (!aliased)
            expect(plain.all_from(promised, fills[k]), "a byte past the promised output changed");
        for (const samplekit::Implementation *impl : kivo_tests::faster_forms()) {
            Block out(out_size);
            out.fill(fills[k]);
            expect(call(*impl, out) == want, "result or carried state differs from the plain form's");
            expect(out == plain, "output differs from the plain form's");
        }
        runs[k].assign(plain.get(), plain.get() + out_size);
    }
    if (!aliased)
        expect(std::equal(runs[0].begin(), runs[0].begin() + static_cast<std::ptrdiff_t>(promised),
                          runs[1].begin()),
               "a promised output byte is not written");
}

double any_gain(Input &in) {
    static constexpr double kGains[] = {
        0.0, -0.0, 1.0, -1.0, 0.5, -1.3, 1e300, -1e300,
        std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::denorm_min(),
        2147483648.0, -2147483649.0, 65536.5, -0.999999};
    const unsigned selector = in.choice(32);
    return selector < 16 ? kGains[selector] : in.any_double();
}

// The two-integer ADPCM state: mostly a predicted value near the 16-bit
// range and a step index in the table, else any ints.
std::vector<int> any_adpcm_state(Input &in) {
    if (in.choice(4) == 0) return {in.any_int(), in.any_int()};
    return {in.small_or_any(-40000, 40000), in.small_or_any(-2, 90)};
}

}  // namespace

void check_add(Input &in) {
    const int width = in.width();
    const std::size_t len = in.length(kMaxBytes);
    const unsigned alias = in.choice(3);   // the output is frag1 (1), frag2 (2) or apart
    const Block a = in.block(len), b = in.block(len);
    const std::size_t promised = usable_width(width) ? len / static_cast<std::size_t>(width) *
                                                           static_cast<std::size_t>(width)
                                                     : 0;
    compare_forms(len, promised, alias != 0, [&](const auto &impl, Block &out) {
        Block x(a), y(b);
        if (alias != 0) std::memcpy(out.get(), (alias == 1 ? a : b).get(), len);
        char *frag1 = alias == 1 ? out.chars() : x.chars();
        char *frag2 = alias == 2 ? out.chars() : y.chars();
        impl.add(out.chars(), frag1, frag2, len, width);
        expect((alias == 1 || x == a) && (alias == 2 || y == b), "an input is written");
        return Result{};
    });
}

void check_tostereo(Input &in) {
    const int width = in.width();
    const std::size_t len = in.length(kMaxBytes / 2);
    const double lgain = any_gain(in), rgain = any_gain(in);
    const Block frag = in.block(len);
    const std::size_t whole = usable_width(width) ? len / static_cast<std::size_t>(width) *
                                                        static_cast<std::size_t>(width)
                                                  : 0;
    compare_forms(2 * len, 2 * whole, false, [&](const auto &impl, Block &out) {
        Block x(frag);
        impl.tostereo(out.chars(), x.chars(), len, width, lgain, rgain);
        expect(x == frag, "the input is written");
        return Result{};
    });
}

// Both ADPCM directions: the output size follows from len and the width, or
// is any small block where the width is unusable (nothing may be written and
// the state must stay as it was).
void check_adpcm(Input &in, bool encode) {
    const std::size_t width = in.size_width();
    const bool usable = width >= 1 && width <= 4;
    const std::size_t len = in.length(encode ? kMaxBytes : kMaxBytes / 8);
    const std::vector<int> state = any_adpcm_state(in);
    const Block input = in.block(len);
    std::size_t out_size = in.length(16);
    if (usable) out_size = encode ? len / width / 2 : len * 2 * width;
    const std::size_t promised = usable ? out_size : 0;
    compare_forms(out_size, promised, false, [&](const auto &impl, Block &out) {
        Block x(input);
        int s[2] = {state[0], state[1]};
        const auto &routine = encode ? impl.lin2adcpm : impl.adcpm2lin;
        routine(out.get(), x.get(), len, width, s);
        expect(x == input, "the input is written");
        expect(usable || (s[0] == state[0] && s[1] == state[1]),
               "an unusable width changes the state");
        return Result{s[0], s[1]};
    });
}

void check_lin2adcpm(Input &in) { check_adpcm(in, true); }
void check_adcpm2lin(Input &in) { check_adpcm(in, false); }

void check_ratecv(Input &in) {
    const int width = in.width();
    const int channels = in.small_or_any(0, 6);
    const int rate_in = in.small_or_any(1, 48000);
    const int rate_out = in.small_or_any(1, 48000);
    const int weight_new = in.small_or_any(0, 3);
    const int weight_prev = in.small_or_any(0, 3);
    const int phase = in.small_or_any(-48000, 48000);
    // The arrays hold one int per channel; a larger count cannot be given
    // buffers here, unless the call is refused for another reason.
    constexpr int kMaxChannels = 64;
    const std::size_t nchannels = channels > 0 ? static_cast<std::size_t>(channels) : 0;

    const bool sane = usable_width(width) && channels >= 0 && rate_in >= 1 && rate_out >= 1 &&
                      weight_new >= 0 && weight_prev >= 0 && (weight_new | weight_prev) != 0;
    std::size_t nframes = 0, frag_size = 0;
    if (sane && channels <= kMaxChannels) {
        const std::size_t frame = static_cast<std::size_t>(width) * nchannels;
        nframes = in.length(kMaxBytes) / (frame == 0 ? 1 : frame);
        frag_size = nframes * frame;
    } else {
        nframes = in.length(64);   // not read where the call is refused
        frag_size = in.length(64);
    }
    long double bytes = 0;
    if (sane)
        bytes = static_cast<long double>(
                    samplekit::ratecv_output_frames(phase, nframes, rate_in, rate_out)) *
                width * channels;
    const bool refused = !sane || bytes > std::numeric_limits<int>::max();
    if (!refused && (channels > kMaxChannels || bytes > kMaxBytes)) return;   // too big to test
    const std::size_t out_size = refused ? in.length(16) : static_cast<std::size_t>(bytes);
    const std::size_t array_size = channels > kMaxChannels ? 0 : nchannels * sizeof(int);
    const Block frag = in.block(frag_size);
    const Block previous = in.block(array_size), current = in.block(array_size);

    compare_forms(out_size, refused ? 0 : out_size, false, [&](const auto &impl, Block &out) {
        Block x(frag), prev(previous), cur(current);
        int d = phase;
        const int written = impl.ratecv(
            out.chars(), x.chars(), nframes, width, channels, rate_in, rate_out, &d,
            reinterpret_cast<int *>(prev.get()), reinterpret_cast<int *>(cur.get()),
            weight_new, weight_prev);
        expect(x == frag, "the input is written");
        if (refused)
            expect(written == 0 && d == phase && prev == previous && cur == current,
                   "a refused call reports bytes or changes the phase or the arrays");
        else
            expect(static_cast<std::size_t>(written) == out_size,
                   "the byte count is not that of the frames written");
        Result r{written, d};
        for (std::size_t i = 0; i < array_size; ++i) r.push_back(prev.get()[i]);
        for (std::size_t i = 0; i < array_size; ++i) r.push_back(cur.get()[i]);
        return r;
    });
}

}  // namespace fuzz
