// The x86 implementations, for 32- and 64-bit x86 whose baseline has SSE2
// and does its double arithmetic in SSE registers:
// - sse2: add, tostereo and ratecv with SSE2, the ADPCM coder in scalar code
//   with conditional moves;
// - avx2 (x86-64 outside Windows, built for x86-64-v3): the same, with
//   the double arithmetic of tostereo, and of ratecv from three channels,
//   four lanes a register.
// Each kernel file is compiled with its own instruction-set flags, so a build
// holds every table for its tests while a module carries the one it ships.
#pragma once

#include "core/implementation.h"

#if !defined(__SSE2__) || !defined(__SSE2_MATH__)
#error "the x86 kernels need SSE2 with double arithmetic in SSE registers (-msse2 -mfpmath=sse)"
#endif

namespace samplekit::x86 {

namespace sse2 {
declared::add add;
declared::tostereo tostereo;
declared::ratecv ratecv;
}  // namespace sse2

namespace scalar {
declared::lin2adcpm lin2adcpm;
declared::adcpm2lin adcpm2lin;
}  // namespace scalar

namespace avx2 {
declared::tostereo tostereo;
declared::ratecv ratecv;
}  // namespace avx2

inline constexpr Implementation sse2_table{"x86-sse2",
                                           "",
                                           {sse2::add, "sse2"},
                                           {sse2::tostereo, "sse2"},
                                           {scalar::lin2adcpm, "x86 scalar"},
                                           {scalar::adcpm2lin, "x86 scalar"},
                                           {sse2::ratecv, "sse2"}};

inline constexpr Implementation avx2_table{"x86-avx2",
                                           "avx2 fma bmi2",
                                           {sse2::add, "sse2"},
                                           {avx2::tostereo, "avx2"},
                                           {scalar::lin2adcpm, "x86 scalar"},
                                           {scalar::adcpm2lin, "x86 scalar"},
                                           {avx2::ratecv, "avx2"}};

}  // namespace samplekit::x86
