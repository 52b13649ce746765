// The stand-in host on tclbridge, loaded against the stand-in Tcl and Tk
// libraries: the context against the declaration list and the layouts of
// the program's bitness (the module's), every forward through the real
// calling convention (arguments and result unchanged, the 8-byte arguments
// whole), the reference counts with TclFreeObj, the constants and the
// version texts.
#include <climits>
#include <cstdio>
#include <cstring>

#include "standin.h"

#include "expected_tclbridge.h"
#include "standin_calls.h"

namespace {

// Which column of the layout tables applies: the module is of the program's
// bitness, or the loader would not have mapped it.
constexpr int kBits = sizeof(void *) == 8 ? 1 : 0;
static_assert((sizeof(void *) == 4 || sizeof(void *) == 8) && sizeof(long) == 4 &&
                  sizeof(std::size_t) == sizeof(void *),
              "a Windows program of 32-bit x86 or x86-64 (LLP64)");

// Tcl_Obj and Tcl_ObjType as a Windows compiler lays them out, per bitness.
constexpr std::size_t kObjSize[] = {24, 48};
constexpr std::size_t kObjTypeSize[] = {20, 40};
constexpr int kObjTypeAlign[] = {4, 8};

// Calls the stand-in libraries reported, kept until the next reset.
struct Call {
    int function;
    int count;
    unsigned long long args[16];
};
Call g_calls[8];
int g_num_calls = 0;

void reset() { g_num_calls = 0; }

}  // namespace

extern "C" __declspec(dllexport) void standin_record(int function, int count,
                                                     const unsigned long long *args) {
    if (g_num_calls < 8) {
        Call &c = g_calls[g_num_calls];
        c.function = function;
        c.count = count;
        for (int i = 0; i < count && i < 16; ++i) c.args[i] = args[i];
    }
    ++g_num_calls;
}

namespace standin {
namespace {

void check_forward(const char *name, int function, int count, const unsigned long long *expected,
                   bool has_result, unsigned long long result, unsigned long long want) {
    bool ok = STANDIN_CHECK(g_num_calls == 1) && STANDIN_CHECK(g_calls[0].function == function) &&
              STANDIN_CHECK(g_calls[0].count == count);
    for (int i = 0; ok && i < count; ++i) {
        if (!STANDIN_CHECK(g_calls[0].args[i] == expected[i]))
            std::printf("  argument %d: %#llx, passed %#llx\n", i, g_calls[0].args[i], expected[i]);
    }
    if (has_result && !STANDIN_CHECK(result == want))
        std::printf("  result %#llx, returned %#llx\n", result, want);
    if (!ok) std::printf("  in %s\n", name);
}

const _cffi_struct_union_s *struct_union(const Module &m, const char *name) {
    for (int i = 0; i < m.context->num_struct_unions; ++i)
        if (std::strcmp(m.context->struct_unions[i].name, name) == 0)
            return &m.context->struct_unions[i];
    return nullptr;
}

void layouts(const Module &m) {
    const _cffi_type_context_s *c = m.context;
    STANDIN_CHECK(c->num_types == 206);
    STANDIN_CHECK(c->num_globals == 67);
    STANDIN_CHECK(c->num_struct_unions == 7);
    STANDIN_CHECK(c->num_typenames == 10);
    struct Entry { const char *name; int flags; std::size_t size; int align, first, count; };
    const std::size_t unknown = static_cast<std::size_t>(-1), host = static_cast<std::size_t>(-2);
    const Entry entries[] = {
        {"$$Tcl_Command", _CFFI_F_OPAQUE, unknown, -1, -1, 0},
        {"$$Tcl_ThreadId", _CFFI_F_OPAQUE, unknown, -1, -1, 0},
        {"$1", _CFFI_F_UNION | _CFFI_F_CHECK_FIELDS, host, -2, 5, 3},
        {"$2", _CFFI_F_CHECK_FIELDS, host, -2, 8, 2},
        {"$Tcl_Interp", _CFFI_F_OPAQUE, unknown, -1, -1, 0},
        {"Tcl_Obj", 0, kObjSize[kBits], 8, 0, 4},
        {"Tcl_ObjType", 0, kObjTypeSize[kBits], kObjTypeAlign[kBits], 4, 1},
    };
    for (const auto &e : entries) {
        const _cffi_struct_union_s *s = struct_union(m, e.name);
        if (!STANDIN_CHECK(s != nullptr)) continue;
        if (!(STANDIN_CHECK(s->flags == e.flags) && STANDIN_CHECK(s->size == e.size) &&
              STANDIN_CHECK(s->alignment == e.align) &&
              STANDIN_CHECK(s->first_field_index == e.first) &&
              STANDIN_CHECK(s->num_fields == e.count)))
            std::printf("  struct %s: flags %d size %u align %d fields %d+%d\n", e.name,
                        s->flags, static_cast<unsigned>(s->size), s->alignment,
                        s->first_field_index, s->num_fields);
    }
    // Offset and size, 32-bit then 64-bit.
    struct Field { const char *name; std::size_t offset[2], size[2]; };
    const Field fields[] = {
        {"bytes", {4, 8}, {4, 8}}, {"length", {8, 16}, {4, 4}},
        {"typePtr", {12, 24}, {4, 8}}, {"internalRep", {16, 32}, {8, 16}},
        {"name", {0, 0}, {4, 8}},
        {"longValue", {unknown, unknown}, {unknown, unknown}},
        {"doubleValue", {unknown, unknown}, {unknown, unknown}},
        {"twoPtrValue", {unknown, unknown}, {unknown, unknown}},
        {"ptr1", {unknown, unknown}, {unknown, unknown}},
        {"ptr2", {unknown, unknown}, {unknown, unknown}},
    };
    if (!STANDIN_CHECK(c->fields != nullptr)) return;
    for (int i = 0; i < 10; ++i) {
        const _cffi_field_s &f = c->fields[i];
        if (!(STANDIN_CHECK(std::strcmp(f.name, fields[i].name) == 0) &&
              STANDIN_CHECK(f.field_offset == fields[i].offset[kBits]) &&
              STANDIN_CHECK(f.field_size == fields[i].size[kBits])))
            std::printf("  field %d: %s at %u, %u bytes\n", i, f.name,
                        static_cast<unsigned>(f.field_offset), static_cast<unsigned>(f.field_size));
    }
    // Tcl_WideInt is the 64-bit signed primitive here, Tcl_UniChar 16 bits.
    for (int i = 0; i < c->num_typenames; ++i) {
        const _cffi_typename_s &t = c->typenames[i];
        if (std::strcmp(t.name, "Tcl_WideInt") == 0)
            STANDIN_CHECK(c->types[t.type_index] == _CFFI_OP(_CFFI_OP_PRIMITIVE, _CFFI_PRIM_INT64));
        if (std::strcmp(t.name, "Tcl_UniChar") == 0)
            STANDIN_CHECK(c->types[t.type_index] == _CFFI_OP(_CFFI_OP_PRIMITIVE, _CFFI_PRIM_USHORT));
    }
}

void forwards(const Module &m) {
    int checked = 0;
    for (const auto &f : standin_calls::forwards) {
        const _cffi_global_s *g = m.find(f.name);
        if (!STANDIN_CHECK(g != nullptr)) continue;
        reset();
        f.call(g->size_or_direct_fn, &check_forward);
        ++checked;
    }
    // Every declared function but the four the module does itself.
    STANDIN_CHECK(checked == 51);
}

void reference_counts(const Module &m) {
    using Op = void (*)(void *);
    const auto incr = m.function<Op>("Tcl_IncrRefCount");
    const auto decr = m.function<Op>("Tcl_DecrRefCount");
    if (!incr || !decr) return;
    struct alignas(8) Object { int refCount; unsigned char rest[kObjSize[kBits] - 4]; };
    auto fresh = [](int count) {
        Object o;
        o.refCount = count;
        std::memset(o.rest, 0x5A, sizeof o.rest);
        return o;
    };
    auto rest_untouched = [](const Object &o) {
        for (unsigned char b : o.rest)
            if (b != 0x5A) return false;
        return true;
    };
    auto freed_once = [](const Object &o) {
        return g_num_calls == 1 && g_calls[0].function == standin_calls::k_TclFreeObj &&
               g_calls[0].count == 1 &&
               g_calls[0].args[0] == reinterpret_cast<std::uintptr_t>(&o);
    };
    struct Case { int before, after; bool frees; };
    const Case cases[] = {{2, 1, false}, {1, 0, true}, {0, -1, true}, {-5, -6, true},
                          {INT_MAX, INT_MAX - 1, false}};
    for (const auto &k : cases) {
        Object o = fresh(k.before);
        reset();
        decr(&o);
        STANDIN_CHECK(o.refCount == k.after);
        STANDIN_CHECK(k.frees ? freed_once(o) : g_num_calls == 0);
        STANDIN_CHECK(rest_untouched(o));
    }
    // Incr calls nothing and changes only the count; Incr then Decr on a
    // fresh object frees it.
    Object o = fresh(0);
    reset();
    incr(&o);
    STANDIN_CHECK(o.refCount == 1 && g_num_calls == 0 && rest_untouched(o));
    incr(&o);
    STANDIN_CHECK(o.refCount == 2 && g_num_calls == 0);
    decr(&o);
    STANDIN_CHECK(o.refCount == 1 && g_num_calls == 0);
    decr(&o);
    STANDIN_CHECK(o.refCount == 0 && freed_once(o));
}

void constants(const Module &m) {
    struct Constant { const char *name; unsigned long long value; };
    const Constant table[] = {
        {"HAVE_LIBTOMMATH", 0}, {"HAVE_WIDE_INT_TYPE", 1}, {"TCL_DONT_WAIT", 2},
        {"TCL_ERROR", 1}, {"TCL_EVAL_DIRECT", 0x40000}, {"TCL_EVAL_GLOBAL", 0x20000},
        {"TCL_EXCEPTION", 8}, {"TCL_GLOBAL_ONLY", 1}, {"TCL_LEAVE_ERR_MSG", 0x200},
        {"TCL_OK", 0}, {"TCL_READABLE", 2}, {"TCL_WRITABLE", 4},
    };
    for (const auto &k : table) {
        unsigned long long v = 0xDEADBEEFDEADBEEFull;
        int sign = -1;
        reset();
        if (!m.constant(k.name, &v, &sign)) continue;
        if (!(STANDIN_CHECK(v == k.value) && STANDIN_CHECK(sign == (k.value == 0 ? 1 : 0))))
            std::printf("  %s: %#llx, sign flag %d\n", k.name, v, sign);
        STANDIN_CHECK(g_num_calls == 0);
    }
}

void versions(const Module &m) {
    using Version = char *(*)();
    const auto tcl = m.function<Version>("get_tcl_version");
    const auto tk = m.function<Version>("get_tk_version");
    if (!tcl || !tk) return;
    reset();
    const char *first = tcl();
    STANDIN_CHECK(std::strcmp(first, "8.5") == 0);
    STANDIN_CHECK(tcl() == first);
    const char *tk_first = tk();
    STANDIN_CHECK(std::strcmp(tk_first, "8.5") == 0);
    STANDIN_CHECK(tk() == tk_first);
    STANDIN_CHECK(g_num_calls == 0);
}

}  // namespace

void check_tclbridge(const Module &m, const char *) {
    check_context(m, expected_tclbridge::globals,
                  static_cast<int>(sizeof expected_tclbridge::globals /
                                   sizeof expected_tclbridge::globals[0]),
                  expected_tclbridge::typenames, expected_tclbridge::num_typenames,
                  expected_tclbridge::function_runs);
    // Bound by name at load time: every import is the library's own export.
    STANDIN_CHECK(check_bindings(m.handle, "tcl85.dll", nullptr) == 50);
    STANDIN_CHECK(check_bindings(m.handle, "tk85.dll", nullptr) == 2);
    layouts(m);
    forwards(m);
    reference_counts(m);
    constants(m);
    versions(m);
}

}  // namespace standin
