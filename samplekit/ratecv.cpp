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

}  // namespace

extern "C" int ratecv(char *out, char *frag, size_t nframes, int width,
                      int channels, int rate_in, int rate_out, int *phase,
                      int *previous, int *current, int weight_new,
                      int weight_prev) {
    return samplekit::ratecv_call(out, frag, nframes, width, channels, rate_in, rate_out,
                                  phase, previous, current, weight_new, weight_prev,
                                  [](auto w, auto &&...args) {
                                      return convert_width<decltype(w)::value>(args...);
                                  });
}
