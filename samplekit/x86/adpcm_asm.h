// The inline assembly of the x86 ADPCM coder's scalar forms: choices made
// with conditional moves, and values kept from the optimiser.
#pragma once

namespace samplekit::x86 {
namespace {

// The value as it is, hidden from the optimiser, so that it is computed and
// kept as written rather than folded into what uses it.
[[gnu::always_inline]] inline unsigned opaque(unsigned value) {
    asm("" : "+r"(value));
    return value;
}

// a > b ? x : y as a conditional move: the comparisons below depend on the
// signal and would mispredict as branches.
template <class T>
[[gnu::always_inline]] inline T pick_greater(T a, T b, T x, T y) {
    asm("cmp %[b], %[a]\n\t"
        "cmovg %[x], %[y]"
        : [y] "+r"(y)
        : [a] "r"(a), [b] "ri"(b), [x] "r"(x)
        : "cc");
    return y;
}

// bits & Mask ? x : 0 as a conditional move.
template <unsigned Mask>
[[gnu::always_inline]] inline int pick_if_set(unsigned bits, int x) {
    int y = 0;
    asm("test %[m], %[bits]\n\t"
        "cmovnz %[x], %[y]"
        : [y] "+r"(y)
        : [bits] "r"(bits), [m] "i"(Mask), [x] "r"(x)
        : "cc");
    return y;
}

}  // namespace
}  // namespace samplekit::x86
