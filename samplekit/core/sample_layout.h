// Sample layout shared by the fragment routines: two's-complement samples of
// 1 to 4 bytes, least significant byte first, read into and written back from
// three working scales (native, 16-bit, 32-bit), and the per-width limits.
//
// Everything in core/ has internal linkage: the kernel files compile these
// helpers with their own instruction-set flags, and a shared copy would let
// the linker keep one file's code for all of them.
#pragma once

#include <cstdint>
#include <type_traits>

namespace samplekit {
namespace {

// Smallest and largest native value of each width; index 0 is a placeholder.
inline constexpr std::int32_t sample_min[5] = {0, -128, -32768, -8388608,
                                               INT32_MIN};
inline constexpr std::int32_t sample_max[5] = {0, 127, 32767, 8388607,
                                               INT32_MAX};

// --- native scale -------------------------------------------------------------
template <int Width>
inline std::int32_t load_native(const unsigned char *p) {
    static_assert(Width >= 1 && Width <= 4);
    if constexpr (Width == 1) {
        return static_cast<std::int8_t>(p[0]);
    } else if constexpr (Width == 2) {
        return static_cast<std::int16_t>(p[0] | p[1] << 8);
    } else if constexpr (Width == 3) {
        // third byte sign-extended, then the two lower bytes shifted in
        return (static_cast<std::int8_t>(p[2]) * 65536) + (p[1] << 8) + p[0];
    } else {
        return static_cast<std::int32_t>(
            static_cast<std::uint32_t>(p[0]) |
            static_cast<std::uint32_t>(p[1]) << 8 |
            static_cast<std::uint32_t>(p[2]) << 16 |
            static_cast<std::uint32_t>(p[3]) << 24);
    }
}

// Stores the low 8 * Width bits of v.
template <int Width>
inline void store_native(unsigned char *p, std::int32_t v) {
    static_assert(Width >= 1 && Width <= 4);
    p[0] = static_cast<unsigned char>(v);
    if constexpr (Width >= 2) p[1] = static_cast<unsigned char>(v >> 8);
    if constexpr (Width >= 3) p[2] = static_cast<unsigned char>(v >> 16);
    if constexpr (Width >= 4) p[3] = static_cast<unsigned char>(v >> 24);
}

// --- 16-bit scale -----------------------------------------------------------
// Width 1 is scaled up by 256; widths 3 and 4 keep only their top two bytes.
template <int Width>
inline std::int32_t load16(const unsigned char *p) {
    static_assert(Width >= 1 && Width <= 4);
    if constexpr (Width == 1) return load_native<1>(p) * 256;
    else return load_native<2>(p + (Width - 2));
}

// Inverse of load16: width 1 keeps the high byte, the low bytes of widths 3
// and 4 are zero.
template <int Width>
inline void store16(unsigned char *p, std::int32_t v) {
    static_assert(Width >= 1 && Width <= 4);
    if constexpr (Width == 1) {
        p[0] = static_cast<unsigned char>(v >> 8);
    } else {
        for (int i = 0; i < Width - 2; ++i) p[i] = 0;
        store_native<2>(p + (Width - 2), v);
    }
}

// --- 32-bit scale -----------------------------------------------------------
// The sample's most significant byte lands in bits 24-31.
template <int Width>
inline std::int32_t load32(const unsigned char *p) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(load_native<Width>(p)) << (32 - 8 * Width));
}

// Arithmetic shift back to the width: rounds toward minus infinity.
template <int Width>
inline void store32(unsigned char *p, std::int32_t v) {
    store_native<Width>(p, v >> (32 - 8 * Width));
}

// Calls f(std::integral_constant<int, W>{}) for a width W of 1 to 4, so that
// the per-sample work is compiled once per width. Returns false, calling
// nothing, for any other width.
template <typename F>
inline bool dispatch_width(long long width, F &&f) {
    switch (width) {
    case 1: f(std::integral_constant<int, 1>{}); return true;
    case 2: f(std::integral_constant<int, 2>{}); return true;
    case 3: f(std::integral_constant<int, 3>{}); return true;
    case 4: f(std::integral_constant<int, 4>{}); return true;
    default: return false;
    }
}

}  // namespace
}  // namespace samplekit
