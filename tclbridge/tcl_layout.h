// The 32-bit layouts of the Tcl release a Windows module binds, checked
// against the headers it is compiled with.
//
// The Windows module may be compiled against the headers of another release
// than the DLLs it imports from (no SDK of those may be at hand). That is
// sound only where the layouts the host reads and the values the forwards
// pass are the same in both: these are the layouts of Tcl 8.5 and 8.6 on
// 32-bit x86, and a header that differs in any of them is refused.
#pragma once

#include <cstddef>
#include <utility>

#if defined(KIVO_TCLTK_VERSION)

static_assert(sizeof(void *) == 4, "the Windows module is 32-bit");

static_assert(sizeof(Tcl_Obj) == 24 && alignof(Tcl_Obj) == 8,
              "tcl.h: Tcl_Obj is not the 24-byte, 8-aligned layout of the Tcl the module binds");
static_assert(offsetof(Tcl_Obj, refCount) == 0 && sizeof(Tcl_Obj::refCount) == 4 &&
                  offsetof(Tcl_Obj, bytes) == 4 && offsetof(Tcl_Obj, length) == 8 &&
                  sizeof(Tcl_Obj::length) == 4 && offsetof(Tcl_Obj, typePtr) == 12 &&
                  offsetof(Tcl_Obj, internalRep) == 16 && sizeof(Tcl_Obj::internalRep) == 8,
              "tcl.h: the members of Tcl_Obj are not where the Tcl the module binds has them");
static_assert(sizeof(std::declval<Tcl_Obj &>().internalRep.longValue) == 4 &&
                  sizeof(std::declval<Tcl_Obj &>().internalRep.doubleValue) == 8 &&
                  sizeof(std::declval<Tcl_Obj &>().internalRep.twoPtrValue) == 8,
              "tcl.h: Tcl_Obj's internalRep is not that of the Tcl the module binds");
static_assert(sizeof(Tcl_ObjType) == 20 && alignof(Tcl_ObjType) == 4 &&
                  offsetof(Tcl_ObjType, name) == 0,
              "tcl.h: Tcl_ObjType is not the 20-byte layout of the Tcl the module binds");
static_assert(sizeof(Tcl_WideInt) == 8 && alignof(Tcl_WideInt) == 8,
              "tcl.h: Tcl_WideInt is not 8 bytes");
static_assert(sizeof(Tcl_UniChar) == 2, "tcl.h: Tcl_UniChar is not 16 bits");

#endif
