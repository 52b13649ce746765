// The aarch64 implementation. Advanced SIMD is part of every aarch64
// processor, so the table needs nothing beyond the target's baseline:
// - neon: add, tostereo and ratecv in Advanced SIMD registers; the ADPCM
//   coder keeps the plain forms for now.
#pragma once

#include "core/implementation.h"
#include "generic/plain.h"

#if !defined(__ARM_NEON) || !defined(__aarch64__)
#error "the aarch64 kernels need Advanced SIMD"
#endif

namespace samplekit::aarch64 {

namespace neon {
declared::add add;
declared::tostereo tostereo;
declared::ratecv ratecv;
}  // namespace neon

inline constexpr Implementation neon_table{"aarch64-neon",
                                           "",
                                           {neon::add, "neon"},
                                           {neon::tostereo, "neon"},
                                           {generic::lin2adcpm, "plain"},
                                           {generic::adcpm2lin, "plain"},
                                           {neon::ratecv, "neon"}};

}  // namespace samplekit::aarch64
