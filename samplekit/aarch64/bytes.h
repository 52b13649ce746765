// Byte tables of the Advanced SIMD kernels for 24-bit samples, which have no
// lanes of their own: they work as the top three bytes of 32-bit lanes.
#pragma once

#include <arm_neon.h>

#include <cstdint>

namespace samplekit::aarch64 {
namespace {

// Sample 4 * r + k of a 48-byte block into lane k of lane register r, as bytes
// 1 to 3; index 0xFF is outside any table and gives the zero low byte.
alignas(16) inline constexpr std::uint8_t kSpread24[4][16] = {
    {0xFF, 0, 1, 2, 0xFF, 3, 4, 5, 0xFF, 6, 7, 8, 0xFF, 9, 10, 11},
    {0xFF, 12, 13, 14, 0xFF, 15, 16, 17, 0xFF, 18, 19, 20, 0xFF, 21, 22, 23},
    {0xFF, 24, 25, 26, 0xFF, 27, 28, 29, 0xFF, 30, 31, 32, 0xFF, 33, 34, 35},
    {0xFF, 36, 37, 38, 0xFF, 39, 40, 41, 0xFF, 42, 43, 44, 0xFF, 45, 46, 47}};

// And back, each 16 bytes of the block from two neighbouring lane registers
// (r, r + 1 for r = 0, 1, 2): byte b of sample j is byte 4 * j + 1 + b of the
// lanes, less 16 * r.
alignas(16) inline constexpr std::uint8_t kPack24[3][16] = {
    {1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, 17, 18, 19, 21},
    {6, 7, 9, 10, 11, 13, 14, 15, 17, 18, 19, 21, 22, 23, 25, 26},
    {11, 13, 14, 15, 17, 18, 19, 21, 22, 23, 25, 26, 27, 29, 30, 31}};

// The top three bytes of the lanes of s0 to s3 as 16 packed 24-bit samples,
// stored at p (48 bytes).
[[gnu::always_inline]] inline void store_top_bytes24(unsigned char *p, uint8x16_t s0,
                                                     uint8x16_t s1, uint8x16_t s2,
                                                     uint8x16_t s3) {
    vst1q_u8(p, vqtbl2q_u8(uint8x16x2_t{{s0, s1}}, vld1q_u8(kPack24[0])));
    vst1q_u8(p + 16, vqtbl2q_u8(uint8x16x2_t{{s1, s2}}, vld1q_u8(kPack24[1])));
    vst1q_u8(p + 32, vqtbl2q_u8(uint8x16x2_t{{s2, s3}}, vld1q_u8(kPack24[2])));
}

}  // namespace
}  // namespace samplekit::aarch64
