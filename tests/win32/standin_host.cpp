// The Windows stand-in host. Usage:
//   standin_host samplekit MODULE
//   standin_host tclbridge MODULE STANDIN_DIR
//   standin_host missing MODULE NAME STANDIN_DIR
// MODULE is the shipped DLL; STANDIN_DIR holds the stand-in Tcl and Tk DLLs
// that the module's imports bind to. The last form loads the module with
// stand-ins that lack NAME, a library or one imported function: the loader
// must refuse it. Wine's loader refuses a missing library but binds a
// missing function to a stub of its own that fails when called, where
// Windows refuses the load; under Wine the check is then that exactly
// that import was found missing when the module was loaded.
#include "standin.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace standin {
namespace {

int g_checks = 0;
int g_failures = 0;

bool op_indexes_a_slot(int op) {
    switch (op) {
    case _CFFI_OP_POINTER: case _CFFI_OP_ARRAY: case _CFFI_OP_OPEN_ARRAY:
    case _CFFI_OP_FUNCTION: case _CFFI_OP_NOOP: case _CFFI_OP_TYPENAME:
        return true;
    default:
        return false;
    }
}

// Byte-order comparison, as the host searches: strcmp compares the
// characters as unsigned char.
bool strictly_ascending(const char *a, const char *b) { return std::strcmp(a, b) < 0; }

int params_of_run(const _cffi_type_context_s *c, int index) {
    int n = 0;
    while (index + 1 + n < c->num_types &&
           _CFFI_GETOP(c->types[index + 1 + n]) != _CFFI_OP_FUNCTION_END)
        ++n;
    return n;
}

// The headers of a loaded module. The loader maps only modules of the
// program's own bitness, so the native header types are the module's.
const IMAGE_NT_HEADERS *nt_headers(HMODULE module) {
    const auto *base = reinterpret_cast<const unsigned char *>(module);
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
}

// Calls f(library, name, bound address) for every import by name of a
// loaded module, as its import table holds them after loading.
template <typename F>
void for_each_import(HMODULE module, F f) {
    const auto *base = reinterpret_cast<const unsigned char *>(module);
    const IMAGE_NT_HEADERS *nt = nt_headers(module);
    const IMAGE_DATA_DIRECTORY &dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.Size == 0) return;
    for (auto *d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
         d->Name != 0; ++d) {
        const char *library = reinterpret_cast<const char *>(base + d->Name);
        const auto *names = reinterpret_cast<const IMAGE_THUNK_DATA *>(
            base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        const auto *bound = reinterpret_cast<const IMAGE_THUNK_DATA *>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++bound) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                f(library, "", reinterpret_cast<const void *>(bound->u1.Function));
                continue;
            }
            const auto *by_name =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            f(library, reinterpret_cast<const char *>(by_name->Name),
              reinterpret_cast<const void *>(bound->u1.Function));
        }
    }
}

bool inside(HMODULE module, const void *p) {
    const auto *base = reinterpret_cast<const unsigned char *>(module);
    const auto *q = static_cast<const unsigned char *>(p);
    return q >= base && q < base + nt_headers(module)->OptionalHeader.SizeOfImage;
}

bool writable(const void *p) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(p, &info, sizeof info) != sizeof info) return false;
    switch (info.Protect & 0xFF) {
    case PAGE_READWRITE: case PAGE_WRITECOPY:
    case PAGE_EXECUTE_READWRITE: case PAGE_EXECUTE_WRITECOPY:
        return true;
    default:
        return false;
    }
}

bool ends_with_dll(const char *name) {
    const std::size_t n = std::strlen(name);
    return n > 4 && _stricmp(name + n - 4, ".dll") == 0;
}

}  // namespace

int check_bindings(HMODULE module, const char *library, const char *missing) {
    const HMODULE lib = GetModuleHandleA(library);
    if (!STANDIN_CHECK(lib != nullptr)) return 0;
    int count = 0;
    for_each_import(module, [&](const char *from, const char *name, const void *address) {
        if (_stricmp(from, library) != 0) return;
        ++count;
        const void *exported = reinterpret_cast<const void *>(GetProcAddress(lib, name));
        if (missing != nullptr && std::strcmp(name, missing) == 0) {
            // Not exported, and bound to something outside the library.
            STANDIN_CHECK(exported == nullptr);
            STANDIN_CHECK(address != nullptr && !inside(lib, address));
        } else if (!STANDIN_CHECK(exported != nullptr && address == exported)) {
            std::printf("  %s from %s is bound to %p, exported at %p\n", name, library,
                        address, exported);
        }
    });
    return count;
}

bool check(bool ok, const char *what, const char *file, int line) {
    ++g_checks;
    if (!ok) {
        ++g_failures;
        std::printf("%s:%d: check failed: %s\n", file, line, what);
    }
    return ok;
}

int failures() { return g_failures; }

const _cffi_global_s *Module::find(const char *name) const {
    int lo = 0, hi = context->num_globals;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        const int order = std::strcmp(context->globals[mid].name, name);
        if (order == 0) return &context->globals[mid];
        if (order < 0) lo = mid + 1;
        else hi = mid;
    }
    return nullptr;
}

bool Module::constant(const char *name, unsigned long long *value, int *sign_flag) const {
    const _cffi_global_s *g = find(name);
    if (!STANDIN_CHECK(g != nullptr && g->address != nullptr)) return false;
    using Getter = int (*)(unsigned long long *);
    *sign_flag = reinterpret_cast<Getter>(g->address)(value);
    return true;
}

void windows_path(const char *path, char *out, std::size_t size) {
    std::snprintf(out, size, "%s%s", path[0] == '/' ? "Z:" : "", path);
    for (char *p = out; *p; ++p)
        if (*p == '/') *p = '\\';
}

bool load(const char *path, const char *name, Module *m) {
    char file[MAX_PATH];
    windows_path(path, file, sizeof file);
    m->handle = LoadLibraryA(file);
    if (!STANDIN_CHECK(m->handle != nullptr)) {
        std::printf("LoadLibrary(%s) failed: error %lu\n", file, GetLastError());
        return false;
    }
    char init_name[128], pyinit_name[128];
    std::snprintf(init_name, sizeof init_name, "_cffi_kivoinit_%s", name);
    std::snprintf(pyinit_name, sizeof pyinit_name, "PyInit_%s", name);
    using Init = void *(*)(const void **);
    using PyInit = void *(*)();
    auto init = reinterpret_cast<Init>(
        reinterpret_cast<void *>(GetProcAddress(m->handle, init_name)));
    auto pyinit = reinterpret_cast<PyInit>(
        reinterpret_cast<void *>(GetProcAddress(m->handle, pyinit_name)));
    if (!STANDIN_CHECK(init != nullptr) || !STANDIN_CHECK(pyinit != nullptr)) return false;
    // Nothing else is exported under the usual spellings of the routines.
    STANDIN_CHECK(GetProcAddress(m->handle, "st_14linear2ulaw") == nullptr);
    STANDIN_CHECK(GetProcAddress(m->handle, "Tcl_IncrRefCount") == nullptr);

    const void *first = nullptr;
    for (std::uintptr_t fill : {std::uintptr_t{0}, std::uintptr_t{0xDEADBEEF},
                                ~std::uintptr_t{0}}) {
        const void *slots[4];
        for (auto &s : slots) s = reinterpret_cast<const void *>(fill);
        STANDIN_CHECK(init(slots) == nullptr);
        STANDIN_CHECK(reinterpret_cast<std::uintptr_t>(slots[0]) == 0x2601);
        STANDIN_CHECK(slots[1] != nullptr);
        STANDIN_CHECK(first == nullptr || slots[1] == first);   // the same every call
        first = slots[1];
        STANDIN_CHECK(slots[2] == reinterpret_cast<const void *>(fill));   // two slots only
        STANDIN_CHECK(slots[3] == reinterpret_cast<const void *>(fill));
    }
    STANDIN_CHECK(pyinit() == nullptr);
    m->context = static_cast<const _cffi_type_context_s *>(first);
    return m->context != nullptr;
}

void check_context(const Module &m, const DeclaredGlobal *declared, int num_declared,
                   const char *const *typenames, int num_typenames, int function_runs) {
    const _cffi_type_context_s *c = m.context;
    STANDIN_CHECK(c->num_globals == num_declared);
    STANDIN_CHECK(c->num_typenames == num_typenames);
    STANDIN_CHECK(c->num_enums == 0 && c->enums == nullptr);
    STANDIN_CHECK(c->includes == nullptr);
    STANDIN_CHECK(c->flags == 0);
    STANDIN_CHECK((c->struct_unions != nullptr) == (c->num_struct_unions > 0));
    STANDIN_CHECK((c->typenames != nullptr) == (c->num_typenames > 0));
    if (c->num_globals != num_declared || c->num_typenames != num_typenames) return;

    // The record and its name tables are read-only data, the type slots
    // writable data, as the loader mapped them.
    STANDIN_CHECK(!writable(c) && !writable(c->globals));
    if (c->typenames != nullptr) STANDIN_CHECK(!writable(c->typenames));
    if (c->struct_unions != nullptr) STANDIN_CHECK(!writable(c->struct_unions));
    if (c->fields != nullptr) STANDIN_CHECK(!writable(c->fields));
    STANDIN_CHECK(writable(c->types));

    // Every declared name, in byte order, found by the host's search.
    for (int i = 0; i < c->num_globals; ++i) {
        const _cffi_global_s &g = c->globals[i];
        if (!STANDIN_CHECK(std::strcmp(g.name, declared[i].name) == 0))
            std::printf("  globals[%d] is %s, declared %s\n", i, g.name, declared[i].name);
        if (i > 0) STANDIN_CHECK(strictly_ascending(c->globals[i - 1].name, g.name));
        STANDIN_CHECK(m.find(declared[i].name) == &g);
    }
    STANDIN_CHECK(m.find("") == nullptr && m.find("~") == nullptr);
    for (int i = 0; i < c->num_typenames; ++i) {
        STANDIN_CHECK(std::strcmp(c->typenames[i].name, typenames[i]) == 0);
        if (i > 0) STANDIN_CHECK(strictly_ascending(c->typenames[i - 1].name, c->typenames[i].name));
        STANDIN_CHECK(c->typenames[i].type_index >= 0 && c->typenames[i].type_index < c->num_types);
    }
    for (int i = 1; i < c->num_struct_unions; ++i)
        STANDIN_CHECK(strictly_ascending(c->struct_unions[i - 1].name, c->struct_unions[i].name));

    // The function runs come first, each closed by an end slot with
    // argument 0; after them no function or end slot appears.
    int i = 0, runs = 0;
    while (i < c->num_types && _CFFI_GETOP(c->types[i]) == _CFFI_OP_FUNCTION) {
        const int end = i + 1 + params_of_run(c, i);
        if (!STANDIN_CHECK(end < c->num_types)) return;
        STANDIN_CHECK(c->types[end] == _CFFI_OP(_CFFI_OP_FUNCTION_END, 0));
        i = end + 1;
        ++runs;
    }
    STANDIN_CHECK(runs == function_runs);
    for (; i < c->num_types; ++i) {
        STANDIN_CHECK(_CFFI_GETOP(c->types[i]) != _CFFI_OP_FUNCTION);
        STANDIN_CHECK(_CFFI_GETOP(c->types[i]) != _CFFI_OP_FUNCTION_END);
    }

    // Every slot index in range.
    for (int k = 0; k < c->num_types; ++k) {
        const int op = static_cast<int>(_CFFI_GETOP(c->types[k]));
        const auto arg = static_cast<std::intptr_t>(_CFFI_GETARG(c->types[k]));
        if (op_indexes_a_slot(op)) STANDIN_CHECK(arg >= 0 && arg < c->num_types);
        if (op == _CFFI_OP_STRUCT_UNION) STANDIN_CHECK(arg >= 0 && arg < c->num_struct_unions);
    }
    int fields = 0;
    for (int k = 0; k < c->num_struct_unions; ++k) {
        const _cffi_struct_union_s &s = c->struct_unions[k];
        STANDIN_CHECK(s.type_index >= 0 && s.type_index < c->num_types);
        STANDIN_CHECK(_CFFI_GETOP(c->types[s.type_index]) == _CFFI_OP_STRUCT_UNION);
        fields += s.num_fields;
    }
    STANDIN_CHECK((c->fields != nullptr) == (fields > 0));
    for (int k = 0; k < fields; ++k) {
        STANDIN_CHECK(_CFFI_GETOP(c->fields[k].field_type_op) == _CFFI_OP_NOOP);
        const auto arg = static_cast<std::intptr_t>(_CFFI_GETARG(c->fields[k].field_type_op));
        STANDIN_CHECK(arg >= 0 && arg < c->num_types);
    }

    // Function entries: the op follows the parameter count of the function's
    // run, which is the declared count; address and direct entry agree.
    // Constants: CONSTANT_INT with argument -1 and a getter, no direct entry.
    for (int k = 0; k < c->num_globals; ++k) {
        const _cffi_global_s &g = c->globals[k];
        const int op = static_cast<int>(_CFFI_GETOP(g.type_op));
        if (declared[k].params < 0) {
            // Op 31 with -1 shifted into every upper bit of the pointer-sized word.
            const auto constant_op = static_cast<std::uintptr_t>(
                sizeof(void *) == 8 ? 0xFFFFFFFFFFFFFF1Full : 0xFFFFFF1Full);
            STANDIN_CHECK(reinterpret_cast<std::uintptr_t>(g.type_op) == constant_op);
            STANDIN_CHECK(g.address != nullptr && g.size_or_direct_fn == nullptr);
            continue;
        }
        const auto arg = static_cast<std::intptr_t>(_CFFI_GETARG(g.type_op));
        if (!STANDIN_CHECK(arg >= 0 && arg < c->num_types)) continue;
        if (!STANDIN_CHECK(_CFFI_GETOP(c->types[arg]) == _CFFI_OP_FUNCTION)) continue;
        const int n = params_of_run(c, static_cast<int>(arg));
        if (!STANDIN_CHECK(n == declared[k].params)) std::printf("  %s\n", g.name);
        STANDIN_CHECK(op == (n == 0 ? _CFFI_OP_CPYTHON_BLTN_N
                             : n == 1 ? _CFFI_OP_CPYTHON_BLTN_O : _CFFI_OP_CPYTHON_BLTN_V));
        STANDIN_CHECK(g.address != nullptr && g.address == g.size_or_direct_fn);
    }
}

}  // namespace standin

int main(int argc, char **argv) {
    using namespace standin;
    setvbuf(stdout, nullptr, _IONBF, 0);
    const char *mode = argc > 1 ? argv[1] : "";
    Module m;
    if (std::strcmp(mode, "samplekit") == 0 && argc == 3) {
        if (load(argv[2], "_samplekit", &m)) check_samplekit(m);
    } else if (std::strcmp(mode, "time-samplekit") == 0 && argc == 3) {
        if (load(argv[2], "_samplekit", &m)) time_samplekit(m);
#ifdef KIVO_STANDIN_TCLBRIDGE
    } else if (std::strcmp(mode, "tclbridge") == 0 && argc == 4) {
        char dir[MAX_PATH];
        windows_path(argv[3], dir, sizeof dir);
        SetDllDirectoryA(dir);
        if (load(argv[2], "tclbridge", &m)) check_tclbridge(m, dir);
#endif
    } else if (std::strcmp(mode, "missing") == 0 && argc == 5) {
        const char *missing = argv[3];
        char file[MAX_PATH], dir[MAX_PATH];
        windows_path(argv[2], file, sizeof file);
        windows_path(argv[4], dir, sizeof dir);
        SetDllDirectoryA(dir);
        const HMODULE h = LoadLibraryA(file);
        if (h == nullptr) {
            const DWORD error = GetLastError();
            std::printf("the loader refused the module without %s: error %lu\n", missing, error);
            STANDIN_CHECK(error == ERROR_MOD_NOT_FOUND || error == ERROR_PROC_NOT_FOUND);
        } else {
            const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version");
            STANDIN_CHECK(wine);
            STANDIN_CHECK(!ends_with_dll(missing));   // Wine refuses a missing library too
            const char *library = nullptr;
            for_each_import(h, [&](const char *from, const char *name, const void *) {
                if (std::strcmp(name, missing) == 0) library = from;
            });
            if (STANDIN_CHECK(library != nullptr)) {
                check_bindings(h, library, missing);
                std::printf("Wine's loader bound the missing %s!%s to a stub of its own "
                            "(Windows refuses the load)\n", library, missing);
            }
        }
    } else {
        std::printf("usage: standin_host samplekit MODULE | time-samplekit MODULE | "
                    "tclbridge MODULE DIR | missing MODULE NAME DIR\n");
        return 2;
    }
    std::printf("standin_host %s: %d checks, %d failed\n", mode, g_checks, failures());
    return failures() == 0 ? 0 : 1;
}
