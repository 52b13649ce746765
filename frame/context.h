// The records of CFFI's out-of-line type context, and the pieces of a module's
// tables that are the same for every module.
#pragma once

#include <cstddef>
#include <cstdint>

// Taken from the installed cffi package at build time (see frame/cmake/Cffi.cmake).
#include <parse_c_type.h>

namespace kivo {

// The primitive code of an integer type whose size and signedness the
// library's header decides (declared as `int...` in a declaration list).
template <typename T>
constexpr int primitive_int_code() {
    constexpr bool is_signed = static_cast<T>(-1) <= 0;
    switch (sizeof(T)) {
    case 1: return is_signed ? _CFFI_PRIM_INT8 : _CFFI_PRIM_UINT8;
    case 2: return is_signed ? _CFFI_PRIM_INT16 : _CFFI_PRIM_UINT16;
    case 4: return is_signed ? _CFFI_PRIM_INT32 : _CFFI_PRIM_UINT32;
    case 8: return is_signed ? _CFFI_PRIM_INT64 : _CFFI_PRIM_UINT64;
    default: return _CFFI__UNKNOWN_PRIM;
    }
}

// Constant getter: stores the value as a 64-bit word (negative values in two's
// complement) and returns 1 when the value is zero or negative, else 0.
template <auto Value>
int constant_getter(unsigned long long *out) {
    *out = static_cast<unsigned long long>(static_cast<long long>(Value));
    return Value <= 0 ? 1 : 0;
}

}  // namespace kivo
