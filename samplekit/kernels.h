// Which form of each fragment routine this target ships, chosen at compile
// time from the target's architecture and baseline: the SSE2 kernels of x86/
// on x86, the plain forms of generic/ everywhere else. There is no choice at
// run time (the module writes no global data), so a build carries only the
// forms it uses.
#pragma once

#include "generic/plain.h"

#if defined(__x86_64__) || defined(__i386__)
#include "x86/kernels.h"
#define SAMPLEKIT_KERNELS_X86 1
#else
#define SAMPLEKIT_KERNELS_X86 0
#endif

namespace samplekit::shipped {

// The form a routine ships in, for the tests (a plain form shipped is not
// compared with itself) and the benchmarks.
enum class Form { plain, sse2 };

#if SAMPLEKIT_KERNELS_X86
using x86::add;
using x86::tostereo;
using x86::lin2adcpm;
using x86::adcpm2lin;
using x86::ratecv;
inline constexpr Form add_form = Form::sse2;
inline constexpr Form tostereo_form = Form::sse2;
inline constexpr Form lin2adcpm_form = Form::sse2;
inline constexpr Form adcpm2lin_form = Form::sse2;
inline constexpr Form ratecv_form = Form::sse2;
#else
using generic::add;
using generic::tostereo;
using generic::lin2adcpm;
using generic::adcpm2lin;
using generic::ratecv;
inline constexpr Form add_form = Form::plain;
inline constexpr Form tostereo_form = Form::plain;
inline constexpr Form lin2adcpm_form = Form::plain;
inline constexpr Form adcpm2lin_form = Form::plain;
inline constexpr Form ratecv_form = Form::plain;
#endif

}  // namespace samplekit::shipped
