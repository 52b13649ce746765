// ratecv one sample at a time.
#include "core/ratecv_frame.h"
#include "generic/plain.h"

namespace {

using samplekit::Conversion;
using samplekit::Filter;

// Runs the two stages of ratecv until the input is used up; returns the
// final phase.
template <int Width, Filter Mode>
int convert(const Conversion &c) {
    // The record's fields as locals: the stores through out and the arrays
    // could otherwise alias them and force a reload after each.
    const double wn = c.weight_new;
    const double wp = c.weight_prev;
    const double weight_sum = wn + wp;   // in double: the ints could overflow
    const int rate_in = c.rate_in, rate_out = c.rate_out;
    const double ticks = rate_out;
    const std::size_t channels = c.channels;
    int *const previous = c.previous;
    int *const current = c.current;
    const unsigned char *frag = c.frag;
    unsigned char *out = c.out;
    std::size_t n = c.nframes;
    int d = c.phase;
    for (;;) {
        while (d < 0) {
            if (n == 0) return d;
            for (std::size_t ch = 0; ch < channels; ++ch) {
                const int prev = current[ch];
                previous[ch] = prev;
                [[maybe_unused]] const std::int32_t x = samplekit::load32<Width>(frag);
                frag += Width;
                if constexpr (Mode == Filter::copy) {
                    current[ch] = x;
                } else if constexpr (Mode == Filter::blend) {
                    current[ch] = samplekit::truncate_to_int32((wn * x + wp * prev) / weight_sum);
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
            for (std::size_t ch = 0; ch < channels; ++ch) {
                const double v = (previous[ch] * older + current[ch] * newer) / ticks;
                samplekit::store32<Width>(out, samplekit::truncate_to_int32(v));
                out += Width;
            }
            d -= rate_in;   // d >= 0 here, so this cannot overflow
        }
    }
}

}  // namespace

int samplekit::generic::ratecv(char *out, char *frag, std::size_t nframes, int width,
                               int channels, int rate_in, int rate_out, int *phase,
                               int *previous, int *current, int weight_new,
                               int weight_prev) {
    return ratecv_call(out, frag, nframes, width, channels, rate_in, rate_out, phase, previous,
                       current, weight_new, weight_prev,
                       [](auto w, auto mode, const Conversion &c) {
                           return convert<decltype(w)::value, decltype(mode)::value>(c);
                       });
}
