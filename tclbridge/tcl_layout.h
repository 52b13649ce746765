// The layouts of the Tcl release a Windows module binds, for the module's
// bitness, checked against the headers it is compiled with.
//
// The Windows module may be compiled against the headers of another release
// than the DLLs it imports from (no SDK of those may be at hand). That is
// sound only where the layouts the host reads and the values the forwards
// pass are the same in both: these are the layouts of Tcl 8.5 and 8.6 on
// 32-bit x86 and on x86-64 Windows, and a header that differs in any of them
// is refused.
#pragma once

#include <cstddef>
#include <utility>

#if defined(KIVO_TCLTK_VERSION)

namespace kivo_tcl_layout {

// Sizes and offsets in bytes, written out from the struct definitions.
struct Layout {
    std::size_t pointer;
    std::size_t obj_size, obj_align, bytes, length, type_ptr, internal_rep, internal_rep_size;
    std::size_t long_value, two_ptr_value;
    std::size_t obj_type_size, obj_type_align;
};

#if defined(_WIN64)
// LLP64: long 4 bytes, pointers 8. Each int is followed by 4 bytes of padding
// to the next pointer; the union is as wide as its two-pointer member.
inline constexpr Layout expected{8, 48, 8, 8, 16, 24, 32, 16, 4, 16, 40, 8};
#else
// ILP32: int, long and pointers 4 bytes; the union's double aligns Tcl_Obj
// to 8.
inline constexpr Layout expected{4, 24, 8, 4, 8, 12, 16, 8, 4, 8, 20, 4};
#endif

}  // namespace kivo_tcl_layout

static_assert(sizeof(void *) == kivo_tcl_layout::expected.pointer,
              "the Windows module's pointers are not of the bitness its layouts are for");

static_assert(sizeof(Tcl_Obj) == kivo_tcl_layout::expected.obj_size &&
                  alignof(Tcl_Obj) == kivo_tcl_layout::expected.obj_align,
              "tcl.h: Tcl_Obj is not the size and alignment of the Tcl the module binds");
static_assert(offsetof(Tcl_Obj, refCount) == 0 && sizeof(Tcl_Obj::refCount) == 4 &&
                  offsetof(Tcl_Obj, bytes) == kivo_tcl_layout::expected.bytes &&
                  offsetof(Tcl_Obj, length) == kivo_tcl_layout::expected.length &&
                  sizeof(Tcl_Obj::length) == 4 &&
                  offsetof(Tcl_Obj, typePtr) == kivo_tcl_layout::expected.type_ptr &&
                  offsetof(Tcl_Obj, internalRep) == kivo_tcl_layout::expected.internal_rep &&
                  sizeof(Tcl_Obj::internalRep) == kivo_tcl_layout::expected.internal_rep_size,
              "tcl.h: Tcl_Obj is not laid out member by member as the Tcl the module binds");
static_assert(sizeof(std::declval<Tcl_Obj &>().internalRep.longValue) ==
                      kivo_tcl_layout::expected.long_value &&
                  sizeof(std::declval<Tcl_Obj &>().internalRep.doubleValue) == 8 &&
                  sizeof(std::declval<Tcl_Obj &>().internalRep.twoPtrValue) ==
                      kivo_tcl_layout::expected.two_ptr_value,
              "tcl.h: Tcl_Obj is not holding the internalRep of the Tcl the module binds");
static_assert(sizeof(Tcl_ObjType) == kivo_tcl_layout::expected.obj_type_size &&
                  alignof(Tcl_ObjType) == kivo_tcl_layout::expected.obj_type_align &&
                  offsetof(Tcl_ObjType, name) == 0,
              "tcl.h: Tcl_ObjType is not the layout of the Tcl the module binds");
static_assert(sizeof(Tcl_WideInt) == 8 && alignof(Tcl_WideInt) == 8,
              "tcl.h: Tcl_WideInt is not 8 bytes");
static_assert(sizeof(Tcl_UniChar) == 2, "tcl.h: Tcl_UniChar is not 16 bits");

#endif
