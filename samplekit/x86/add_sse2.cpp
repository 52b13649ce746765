// Mixing of two fragments with SSE2 at every width: 16 bytes a step, in
// 8- and 16-bit lanes where the instruction set saturates the sums itself,
// in 32-bit lanes with the overflow worked out, and at width 3 summed where
// the samples lie, as 24-bit fields of 64-bit lanes. A block is only loaded
// where all the bytes it reads lie inside the caller's buffers; the samples
// after the last such block go through the plain form, and so does the
// first sample at width 3, where the loads start before the samples they read.
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/mix_frame.h"
#include "x86/bytes.h"
#include "x86/tables.h"

namespace samplekit::x86 {
namespace {

// x + y in 32-bit lanes, saturated: an overflow shows as a sum whose sign
// differs from both addends', and then the limit has the sign of x.
__m128i saturated_sum32(__m128i x, __m128i y) {
    const __m128i s = _mm_add_epi32(x, y);
    const __m128i overflow =
        _mm_srai_epi32(_mm_and_si128(_mm_xor_si128(s, x), _mm_xor_si128(s, y)), 31);
    const __m128i limit = _mm_xor_si128(_mm_srai_epi32(x, 31), _mm_set1_epi32(INT32_MAX));
    return _mm_or_si128(_mm_andnot_si128(overflow, s), _mm_and_si128(overflow, limit));
}

// Saturated sums of four 24-bit samples held as 24-bit fields: bits 16-39
// and 40-63 of the low half, bits 0-23 and 24-47 of the high half, which is
// where a 16-byte load from two bytes before the first sample puts them.
// The fields are added in place, with their top bits set aside so that no
// carry crosses into the next field and put back as the exclusive or of the
// two addends' and the carry's. A sum overflows where its sign differs from
// x's while x and y have the same sign; o holds the top bits of those
// fields. From it, (o << 1) - (o >> 23) is 0xFFFFFF in each such field
// (modulo 2^64 for the field that ends at bit 63), and the limits are o
// itself (0x800000, for a negative x) or o less its bit moved to the field's
// bit 0 (0x7FFFFF, for a positive x). The bits outside the fields come out
// zero.
[[gnu::always_inline]] inline __m128i saturated_fields24(__m128i x, __m128i y) {
    const __m128i top = _mm_set_epi64x(0x800000800000, std::int64_t{0x800000800000} << 16);
    const __m128i low = _mm_set_epi64x(0x7FFFFF7FFFFF, std::int64_t{0x7FFFFF7FFFFF} << 16);
    const __m128i differ = _mm_xor_si128(x, y);
    const __m128i s = _mm_xor_si128(
        _mm_add_epi64(_mm_and_si128(x, low), _mm_and_si128(y, low)),
        _mm_and_si128(differ, top));
    const __m128i o = _mm_and_si128(_mm_andnot_si128(differ, _mm_xor_si128(s, x)), top);
    const __m128i overflowed = _mm_sub_epi64(_mm_add_epi64(o, o), _mm_srli_epi64(o, 23));
    const __m128i limit = _mm_add_epi64(low, _mm_srli_epi64(_mm_and_si128(x, top), 23));
    return _mm_xor_si128(s, _mm_and_si128(_mm_xor_si128(s, limit), overflowed));
}

// The sum of the 16-byte block at offset i. Streamed stores go around the
// caches and need out + i aligned to 16 bytes.
template <int W, bool Stream>
[[gnu::always_inline]] inline void add_16_bytes(unsigned char *out, const unsigned char *a,
                                                const unsigned char *b, std::size_t i) {
    const __m128i x = load_bytes(a + i);
    const __m128i y = load_bytes(b + i);
    __m128i s;
    if constexpr (W == 1) s = _mm_adds_epi8(x, y);
    else if constexpr (W == 2) s = _mm_adds_epi16(x, y);
    else s = saturated_sum32(x, y);
    if constexpr (Stream) _mm_stream_si128(reinterpret_cast<__m128i *>(out + i), s);
    else store_bytes(out + i, s);
}

// Sums of 16-byte blocks from offset i while a whole block remains before
// end; returns the offset reached. Four blocks a turn: one block with its
// loop's own count and branch took half as long again as a memmove of its
// bytes in the nearer caches.
template <int W, bool Stream>
std::size_t add_16_byte_blocks(unsigned char *out, const unsigned char *a,
                               const unsigned char *b, std::size_t i, std::size_t end) {
    for (; end - i >= 64; i += 64) {
        add_16_bytes<W, Stream>(out, a, b, i);
        add_16_bytes<W, Stream>(out, a, b, i + 16);
        add_16_bytes<W, Stream>(out, a, b, i + 32);
        add_16_bytes<W, Stream>(out, a, b, i + 48);
    }
    for (; end - i >= 16; i += 16) add_16_bytes<W, Stream>(out, a, b, i);
    if constexpr (Stream) _mm_sfence();   // ordered before whatever the caller stores next
    return i;
}

// From 4 MiB (12 with the inputs): smaller, a cache keeps what streaming evicts; larger, stores pay a read per line.
inline constexpr std::size_t kStreamedAddBytes = 4 * 1024 * 1024;

// Adds the whole blocks of W-byte samples in [0, end) that can be loaded
// without reading past end; returns the offset of the first sample left.
// Both inputs of a block are loaded before its output is stored, so out may
// be either input.
template <int W>
std::size_t add_blocks(unsigned char *out, const unsigned char *a,
                       const unsigned char *b, std::size_t end) {
    std::size_t i = 0;
    if constexpr (W == 3) {
        // Blocks of four samples, each loaded with 16-byte loads from two
        // bytes before its first sample (the fragment's first sample takes
        // the plain form) and stored with one 16-byte store from there. The
        // store's first two bytes are the previous sum's last two, kept in
        // `before`; its last two spill onto the next block, whose inputs
        // (out may be either of them) are loaded before it and whose store
        // overwrites them. The last block stores exactly its own bytes.
        if (end < 17) return 0;
        samplekit::add_sample<3>(out, a, b);
        __m128i before = _mm_cvtsi32_si128(out[1] | out[2] << 8);
        __m128i x = load_bytes(a + 1), y = load_bytes(b + 1);
#pragma GCC unroll 2
        for (i = 3; end - i >= 26; i += 12) {
            const __m128i next_x = load_bytes(a + i + 10), next_y = load_bytes(b + i + 10);
            const __m128i s = saturated_fields24(x, y);
            store_bytes(out + i - 2, _mm_or_si128(s, before));
            before = _mm_srli_si128(s, 12);
            x = next_x;
            y = next_y;
        }
        const __m128i s = _mm_or_si128(saturated_fields24(x, y), before);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i - 2), s);
        store_low_4(out + i + 6, _mm_unpackhi_epi64(s, s));
        const auto bytes_10_11 = static_cast<std::uint16_t>(_mm_extract_epi16(s, 6));
        std::memcpy(out + i + 10, &bytes_10_11, 2);
        i += 12;
    } else {
        // Streaming starts where out is aligned, after as many whole samples
        // as that takes (none when out's misalignment is not a whole number
        // of samples: then the stores stay ordinary).
        const std::size_t head = (0 - reinterpret_cast<std::uintptr_t>(out)) & 15;
        if (end >= kStreamedAddBytes && head % W == 0) {
            for (; i < head; i += W) samplekit::add_sample<W>(out + i, a + i, b + i);
            return add_16_byte_blocks<W, true>(out, a, b, i, end);
        }
        i = add_16_byte_blocks<W, false>(out, a, b, i, end);
    }
    return i;
}

}  // namespace
}  // namespace samplekit::x86

// Only whole samples are handled: a tail of len shorter than one sample is
// neither read nor written, and a width outside 1 to 4 stores nothing.
// out may be frag1 or frag2 itself, since both inputs at a position are read
// before that position is written.
void samplekit::x86::sse2::add(char *out, char *frag1, char *frag2, std::size_t len,
                               int width) {
    add_fragments(out, frag1, frag2, len, width, [](auto w, auto &&...args) {
        return add_blocks<decltype(w)::value>(args...);
    });
}
