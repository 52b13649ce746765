// Helpers of the rate converter that its callers, tests and benchmarks share:
// how many frames one call writes (so that the output can be sized) and the
// saturating conversion of the filter and interpolation results.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sample_layout.h"

namespace samplekit {

// Truncates toward zero to a 32-bit integer, saturating where the value lies
// beyond the range (and giving INT32_MIN for a NaN) instead of leaving the
// conversion undefined. Within the range it is a plain conversion.
inline std::int32_t truncate_to_int32(double v) {
    if (v >= 2147483648.0) return INT32_MAX;
    if (!(v > -2147483649.0)) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

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

}  // namespace samplekit
