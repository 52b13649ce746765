// The aarch64 implementation. Advanced SIMD is part of every aarch64
// processor, so the table needs nothing beyond the target's baseline:
// - neon: add, tostereo and ratecv in Advanced SIMD registers; the ADPCM
//   coder, one sample after another, in scalar code that takes the coder's
//   next state from one table of transitions.
#pragma once

#include "core/implementation.h"
#include "generic/plain.h"

#if !defined(__ARM_NEON) || !defined(__aarch64__)
#error "the aarch64 kernels need Advanced SIMD"
#endif
#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the aarch64 kernels lay samples out in lanes and stores least significant byte first"
#endif

namespace samplekit::aarch64 {

namespace neon {
declared::add add;
declared::tostereo tostereo;
declared::ratecv ratecv;
}  // namespace neon

namespace scalar {
declared::lin2adcpm lin2adcpm;
declared::adcpm2lin adcpm2lin;
}  // namespace scalar

inline constexpr Implementation neon_table{"aarch64-neon",
                                           "",
                                           {neon::add, "neon"},
                                           {neon::tostereo, "neon"},
                                           {scalar::lin2adcpm, "aarch64 scalar"},
                                           {scalar::adcpm2lin, "aarch64 scalar"},
                                           {neon::ratecv, "neon"}};

}  // namespace samplekit::aarch64
