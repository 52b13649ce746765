// Sample-rate conversion of interleaved fragments: a one-pole smoothing filter
// per channel, then linear interpolation between the two newest filtered
// frames. The phase and both per-channel arrays belong to the caller and carry
// a stream from one call to the next.
//
// Time runs in ticks of the reduced rates: an input frame lasts rate_out'
// ticks, an output frame rate_in' ticks. The phase d says how far the next
// output instant lies before the newest input frame; while it is negative
// another input frame is read, while it is zero or positive a frame is written.
#include <cstddef>
#include <cstdint>

#include "ratecv.h"
#include "sample_layout.h"
#include "samplekit_decls.h"

namespace {

using samplekit::truncate_to_int32;

// The filter weights after reduction by their gcd. Weight_prev 0 makes the
// filter a plain copy and weight_new 0 freezes it; both are exact shortcuts of
// the general formula, which then divides by 1.
enum class Filter { copy, hold, blend };

// Runs the two stages until the input is used up; returns the final phase.
template <int Width, Filter Mode>
int convert(unsigned char *out, const unsigned char *frag, std::size_t n,
            int channels, int rate_in, int rate_out, int d, int *previous,
            int *current, int weight_new, int weight_prev) {
    const double wn = weight_new;
    const double wp = weight_prev;
    const double weight_sum = wn + wp;   // in double: the ints could overflow
    const double ticks = rate_out;
    const auto nchannels = static_cast<std::size_t>(channels);
    for (;;) {
        while (d < 0) {
            if (n == 0) return d;
            for (std::size_t c = 0; c < nchannels; ++c) {
                const int prev = current[c];
                previous[c] = prev;
                [[maybe_unused]] const std::int32_t x = samplekit::load32<Width>(frag);
                frag += Width;
                if constexpr (Mode == Filter::copy) {
                    current[c] = x;
                } else if constexpr (Mode == Filter::blend) {
                    current[c] = truncate_to_int32((wn * x + wp * prev) / weight_sum);
                }
            }
            --n;
            d += rate_out;   // d < 0 here, so this cannot overflow
        }
        while (d >= 0) {
            // A phase carried in from beyond rate_out' extrapolates; the
            // conversion saturates instead of overflowing.
            const double newer = ticks - d;
            const double older = d;
            for (std::size_t c = 0; c < nchannels; ++c) {
                const double v = (previous[c] * older + current[c] * newer) / ticks;
                samplekit::store32<Width>(out, truncate_to_int32(v));
                out += Width;
            }
            d -= rate_in;   // d >= 0 here, so this cannot overflow
        }
    }
}

template <int Width>
int convert_width(unsigned char *out, const unsigned char *frag, std::size_t n,
                  int channels, int rate_in, int rate_out, int d, int *previous,
                  int *current, int weight_new, int weight_prev) {
    if (weight_prev == 0)
        return convert<Width, Filter::copy>(out, frag, n, channels, rate_in, rate_out, d,
                                            previous, current, weight_new, weight_prev);
    if (weight_new == 0)
        return convert<Width, Filter::hold>(out, frag, n, channels, rate_in, rate_out, d,
                                            previous, current, weight_new, weight_prev);
    return convert<Width, Filter::blend>(out, frag, n, channels, rate_in, rate_out, d,
                                         previous, current, weight_new, weight_prev);
}

// The phase a call leaves: P = phase + nframes * rate_out' when that is
// negative, else P mod rate_in' - rate_in'. Computed without running the
// loops, for calls that touch no samples.
int final_phase(int phase, std::size_t nframes, int rate_in, int rate_out) {
    const std::int64_t in = rate_in;
    const std::int64_t out = rate_out;
    if (nframes <= static_cast<std::uint64_t>(INT64_MAX / 2 / out)) {
        const std::int64_t p = phase + static_cast<std::int64_t>(nframes) * out;
        if (p < 0) return static_cast<int>(p);   // p >= phase, so it fits
        return static_cast<int>(p % in - in);
    }
    // P is far above zero; only its remainder is needed.
    const std::int64_t n_mod = static_cast<std::int64_t>(nframes % static_cast<std::uint64_t>(in));
    const std::int64_t m = ((phase % in + in) % in + n_mod * (out % in)) % in;
    return static_cast<int>(m - in);
}

}  // namespace

// Arguments that break the caller's guarantees in a way that arithmetic or
// memory depends on (a width below 1, negative channels, a rate below 1, a
// negative weight or both weights 0), and calls whose byte count would not fit
// the int result, write nothing, leave the phase and both arrays as they are
// and return 0. A width above 4 reads and writes no samples and leaves the
// arrays alone, yet advances the phase and counts width bytes per sample.
extern "C" int ratecv(char *out, char *frag, size_t nframes, int width,
                      int channels, int rate_in, int rate_out, int *phase,
                      int *previous, int *current, int weight_new,
                      int weight_prev) {
    if (width < 1 || channels < 0 || rate_in < 1 || rate_out < 1) return 0;
    if (weight_new < 0 || weight_prev < 0 || (weight_new == 0 && weight_prev == 0))
        return 0;

    const int g = samplekit::gcd(rate_in, rate_out);
    rate_in /= g;
    rate_out /= g;
    const int h = samplekit::gcd(weight_new, weight_prev);
    weight_new /= h;
    weight_prev /= h;

    const int start = *phase;
    const std::int64_t frames =
        samplekit::ratecv_output_frames(start, nframes, rate_in, rate_out);
    const std::int64_t frame_bytes = std::int64_t{channels} * width;
    if (frame_bytes != 0 && frames > INT32_MAX / frame_bytes) return 0;
    const int bytes = static_cast<int>(frames * frame_bytes);

    auto *dst = reinterpret_cast<unsigned char *>(out);
    const auto *src = reinterpret_cast<const unsigned char *>(frag);
    int d = 0;
    const bool converted = channels != 0 && samplekit::dispatch_width(width, [&](auto w) {
        d = convert_width<decltype(w)::value>(dst, src, nframes, channels, rate_in,
                                              rate_out, start, previous, current,
                                              weight_new, weight_prev);
    });
    // Without samples to touch the loops would only count; the phase they
    // would reach follows directly, however many frames nframes claims.
    if (!converted) d = final_phase(start, nframes, rate_in, rate_out);
    *phase = d;
    return bytes;
}
