#include <gtest/gtest.h>

#include <cstdint>

#include "frame/context.h"

namespace {

TEST(ConstantGetter, StoresSixtyFourBitsAndReportsSign) {
    unsigned long long out = 0xDEADBEEFDEADBEEFull;
    EXPECT_EQ(kivo::constant_getter<0>(&out), 1);
    EXPECT_EQ(out, 0u);

    out = 0xFFFFFFFFFFFFFFFFull;
    EXPECT_EQ(kivo::constant_getter<0x40000>(&out), 0);
    EXPECT_EQ(out, 0x40000u);   // upper 32 bits cleared

    EXPECT_EQ(kivo::constant_getter<1>(&out), 0);
    EXPECT_EQ(out, 1u);

    EXPECT_EQ(kivo::constant_getter<-1>(&out), 1);
    EXPECT_EQ(out, 0xFFFFFFFFFFFFFFFFull);   // two's complement of the value

    EXPECT_EQ(kivo::constant_getter<INT32_MAX>(&out), 0);
    EXPECT_EQ(out, 0x7FFFFFFFu);
    EXPECT_EQ(kivo::constant_getter<INT64_MIN>(&out), 1);
    EXPECT_EQ(out, 0x8000000000000000ull);
}

TEST(PrimitiveIntCode, FollowsSizeAndSignedness) {
    EXPECT_EQ(kivo::primitive_int_code<std::int8_t>(), _CFFI_PRIM_INT8);
    EXPECT_EQ(kivo::primitive_int_code<std::uint8_t>(), _CFFI_PRIM_UINT8);
    EXPECT_EQ(kivo::primitive_int_code<std::int16_t>(), _CFFI_PRIM_INT16);
    EXPECT_EQ(kivo::primitive_int_code<std::uint32_t>(), _CFFI_PRIM_UINT32);
    EXPECT_EQ(kivo::primitive_int_code<long long>(), _CFFI_PRIM_INT64);
    EXPECT_EQ(kivo::primitive_int_code<unsigned long long>(), _CFFI_PRIM_UINT64);
}

TEST(TypeWord, OpInTheLowByteArgumentAbove) {
    const auto word = reinterpret_cast<std::uintptr_t>(_CFFI_OP(_CFFI_OP_POINTER, 42));
    EXPECT_EQ(word & 0xFF, static_cast<std::uintptr_t>(_CFFI_OP_POINTER));
    EXPECT_EQ(word >> 8, 42u);
    const auto constant = reinterpret_cast<std::uintptr_t>(_CFFI_OP(_CFFI_OP_CONSTANT_INT, -1));
    EXPECT_EQ(constant, ~static_cast<std::uintptr_t>(0xFF) | 31u);
}

}  // namespace
