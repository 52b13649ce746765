// What every form of ratecv shares, and its callers, tests and benchmarks
// with it: how many frames one call writes (so that the output can be
// sized), the phase a call leaves, and the frame of a call, which checks and
// reduces the arguments and hands one record to a converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "core/arithmetic.h"
#include "core/sample_layout.h"

namespace samplekit {
namespace {

// Number of output frames that one ratecv call writes for the carried phase,
// nframes input frames and the two rates (reduced here by their gcd): with
// P = phase + nframes * rate_out', floor(P / rate_in') + 1 when P >= 0, else
// 0. Rates below 1 give 0. A count beyond the 64-bit range gives INT64_MAX.
inline std::int64_t ratecv_output_frames(int phase, std::size_t nframes,
                                         int rate_in, int rate_out) {
    if (rate_in < 1 || rate_out < 1) return 0;
    const int g = gcd(rate_in, rate_out);
    const std::int64_t in = rate_in / g;
    const std::int64_t out = rate_out / g;
    // phase + nframes * out fits when nframes * out <= INT64_MAX / 2.
    if (nframes > static_cast<std::uint64_t>(INT64_MAX / 2 / out)) return INT64_MAX;
    const std::int64_t p = phase + static_cast<std::int64_t>(nframes) * out;
    return p < 0 ? 0 : p / in + 1;
}

// The phase a call leaves: P = phase + nframes * rate_out' when that is
// negative, else P mod rate_in' - rate_in'. Computed without running the
// loops, for calls that touch no samples.
inline int final_phase(int phase, std::size_t nframes, int rate_in, int rate_out) {
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

// The filter weights after reduction by their gcd. Weight_prev 0 makes the
// filter a plain copy and weight_new 0 freezes it; both are exact shortcuts of
// the general formula, which then divides by 1.
enum class Filter { copy, hold, blend };

// Calls f(std::integral_constant<Filter, M>{}) for the filter M of the
// reduced weights, so that each is compiled on its own.
template <typename F>
inline int with_filter(int weight_new, int weight_prev, F &&f) {
    if (weight_prev == 0) return f(std::integral_constant<Filter, Filter::copy>{});
    if (weight_new == 0) return f(std::integral_constant<Filter, Filter::hold>{});
    return f(std::integral_constant<Filter, Filter::blend>{});
}

// One call as a converter sees it: the rates and the weights reduced by
// their gcd, the arguments checked.
struct Conversion {
    unsigned char *out;
    const unsigned char *frag;
    std::size_t nframes;
    std::size_t channels;
    int rate_in, rate_out;
    int phase;   // at entry
    int *previous, *current;
    int weight_new, weight_prev;
};

// One ratecv call around a converter of whole frames. Arguments that break
// the caller's guarantees in a way that arithmetic or memory depends on (a
// width outside 1 to 4, negative channels, a rate below 1, a negative weight
// or both weights 0), and calls whose byte count would not fit the int
// result, write nothing, leave the phase and both arrays as they are and
// return 0: a count of bytes that were never written would be a failure
// reported as success.
//
// convert(width_tag, filter_tag, conversion) runs both stages over the whole
// input, for at least one channel, and returns the final phase.
template <typename Convert>
inline int ratecv_call(char *out, char *frag, std::size_t nframes, int width,
                       int channels, int rate_in, int rate_out, int *phase,
                       int *previous, int *current, int weight_new,
                       int weight_prev, Convert &&convert) {
    if (width < 1 || width > 4 || channels < 0 || rate_in < 1 || rate_out < 1) return 0;
    if (weight_new < 0 || weight_prev < 0 || (weight_new == 0 && weight_prev == 0))
        return 0;

    const int g = gcd(rate_in, rate_out);
    const int h = gcd(weight_new, weight_prev);
    const Conversion c{reinterpret_cast<unsigned char *>(out),
                       reinterpret_cast<const unsigned char *>(frag),
                       nframes,
                       static_cast<std::size_t>(channels),
                       rate_in / g,
                       rate_out / g,
                       *phase,
                       previous,
                       current,
                       weight_new / h,
                       weight_prev / h};

    const std::int64_t frames = ratecv_output_frames(c.phase, nframes, c.rate_in, c.rate_out);
    const std::int64_t frame_bytes = std::int64_t{channels} * width;
    if (frame_bytes != 0 && frames > INT32_MAX / frame_bytes) return 0;
    const int bytes = static_cast<int>(frames * frame_bytes);

    int d = 0;
    const bool converted = channels != 0 && dispatch_width(width, [&](auto w) {
        d = with_filter(c.weight_new, c.weight_prev, [&](auto mode) {
            return convert(w, mode, c);
        });
    });
    // Without samples to touch the loops would only count; the phase they
    // would reach follows directly, however many frames nframes claims.
    if (!converted) d = final_phase(c.phase, nframes, c.rate_in, c.rate_out);
    *phase = d;
    return bytes;
}

}  // namespace
}  // namespace samplekit
