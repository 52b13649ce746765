// The Windows stand-in host: what the host does with a shipped module, done
// from a plain C++ program so that it runs under Wine without the host.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include <parse_c_type.h>

namespace standin {

// A declared function (params >= 0) or constant (params == -1), as the
// declaration list names it.
struct DeclaredGlobal {
    const char *name;
    int params;
};

// Counts a check and reports it when it fails.
bool check(bool ok, const char *what, const char *file, int line);
int failures();

#define STANDIN_CHECK(cond) ::standin::check((cond), #cond, __FILE__, __LINE__)

// A module loaded as the host loads it: by file name, then its init entry.
struct Module {
    HMODULE handle = nullptr;
    const _cffi_type_context_s *context = nullptr;

    // The global of that name, found by binary search over the sorted
    // globals as the host does; null when absent.
    const _cffi_global_s *find(const char *name) const;

    // The direct-call entry of a declared function, as the given type.
    template <typename F>
    F function(const char *name) const {
        const _cffi_global_s *g = find(name);
        if (!check(g != nullptr && g->size_or_direct_fn != nullptr, name, __FILE__, __LINE__))
            return nullptr;
        return reinterpret_cast<F>(g->size_or_direct_fn);
    }

    // Reads a constant through its getter: the value and the sign flag.
    bool constant(const char *name, unsigned long long *value, int *sign_flag) const;
};

// A Unix path (as ctest passes it) in the form Windows takes: Wine maps the
// root to drive Z:.
void windows_path(const char *path, char *out, std::size_t size);

// Loads the module file and runs the init checks; false when it did not
// load or has no init entry.
bool load(const char *path, const char *name, Module *m);

// Checks that every name the module imports from the loaded library is bound
// to that library's export of the name, except `missing` (may be null),
// which the library lacks; gives the number of names imported from it.
int check_bindings(HMODULE module, const char *library, const char *missing);

// The checks every context must pass: counts, sorted names, the runs of
// function types, ops against parameter counts and every index in bounds.
void check_context(const Module &m, const DeclaredGlobal *declared, int num_declared,
                   const char *const *typenames, int num_typenames, int function_runs);

// The checks of each module's own declarations.
void check_samplekit(const Module &m);
void check_tclbridge(const Module &m, const char *standin_dir);

// Run by hand, not by the suite: the time per sample of the fragment routines
// through the module's entries, beside the plain forms linked into this program.
void time_samplekit(const Module &m);

}  // namespace standin
