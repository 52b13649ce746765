// What the stand-in Tcl and Tk libraries and the stand-in host agree on: the
// argument each call passes in each position, the result each stand-in
// returns, all distinct per function and position (and with the upper bits
// of every word in use, so that a value cut short or passed in the wrong
// place shows), and the raw bits of each value as recorded.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace standin {

// The position of a result among a function's values.
constexpr int kResult = 15;

template <typename T>
T value(int function, int position) {
    const auto tag = static_cast<std::uint32_t>(function) << 8 |
                     static_cast<std::uint32_t>(position);
    if constexpr (std::is_pointer_v<T>) {
        std::uintptr_t word = 0xA0000000u | tag << 4;
        // A 64-bit pointer carries the tag in its upper half too.
        if constexpr (sizeof word == 8)
            word |= static_cast<std::uintptr_t>(std::uint64_t{0x7E000000u | tag} << 32);
        return reinterpret_cast<T>(word);
    } else if constexpr (std::is_same_v<T, double>) {
        // Both 32-bit halves of the double carry bits of the tag.
        return -(static_cast<double>(tag) + 0.1);
    } else if constexpr (sizeof(T) == 8) {
        return static_cast<T>(0x8123456700000000ull | tag);
    } else {
        static_assert(std::is_integral_v<T> && sizeof(T) == 4);
        return static_cast<T>(0x80000000u | tag << 4 | 0x5u);
    }
}

template <typename T>
unsigned long long bits(T v) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<std::uintptr_t>(v);
    } else if constexpr (std::is_same_v<T, double>) {
        unsigned long long b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    } else {
        using U = std::make_unsigned_t<T>;
        return static_cast<U>(v);
    }
}

// The host's recorder: each stand-in function reports its index and its
// arguments' bits to it. The host program exports it under this name.
using Recorder = void (*)(int function, int count, const unsigned long long *args);
constexpr const char kRecorderName[] = "standin_record";

}  // namespace standin
