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

// Every fragment routine has its SSE2 form on x86 (each is faster there
// than its plain form, in 32-bit code too); elsewhere the plain forms ship.
#if SAMPLEKIT_KERNELS_X86
namespace target = x86;
inline constexpr Form target_form = Form::sse2;
#else
namespace target = generic;
inline constexpr Form target_form = Form::plain;
#endif

using target::add;
using target::tostereo;
using target::lin2adcpm;
using target::adcpm2lin;
using target::ratecv;
inline constexpr Form add_form = target_form;
inline constexpr Form tostereo_form = target_form;
inline constexpr Form lin2adcpm_form = target_form;
inline constexpr Form adcpm2lin_form = target_form;
inline constexpr Form ratecv_form = target_form;

}  // namespace samplekit::shipped
