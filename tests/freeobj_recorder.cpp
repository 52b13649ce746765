// Preloaded ahead of Tcl in the reference-count tests: a TclFreeObj that
// notes each call (the object and the count it had when the call came) and
// then lets Tcl's own TclFreeObj free the object. The module binds its
// import of TclFreeObj by name, so the shipped module itself is observed,
// and nothing has to read an object after it was freed.
#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

using free_fn = void (*)(void *);

// The first calls since the last reset, in order.
constexpr int kKept = 16;
int calls = 0;
void *objects[kKept];
int counts[kKept];

extern "C" void TclFreeObj(void *object);

// Tcl is loaded after this library, often into a local scope (the host
// loads the module with RTLD_LOCAL), where RTLD_NEXT does not look. So every
// loaded object is asked for the name, and the first definition that is not
// this library's own is Tcl's.
int find_other(dl_phdr_info *info, std::size_t, void *data) {
    if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') return 0;
    void *handle = dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) return 0;
    void *symbol = dlsym(handle, "TclFreeObj");
    dlclose(handle);
    free_fn candidate = nullptr;
    std::memcpy(&candidate, &symbol, sizeof candidate);
    if (candidate == nullptr || candidate == &TclFreeObj) return 0;
    *static_cast<free_fn *>(data) = candidate;
    return 1;
}

free_fn real_free() {
    static free_fn real = nullptr;
    if (real == nullptr) dl_iterate_phdr(find_other, &real);
    if (real == nullptr) std::abort();   // no Tcl loaded: nothing to forward to
    return real;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void TclFreeObj(void *object) {
    if (calls < kKept) {
        objects[calls] = object;
        std::memcpy(&counts[calls], object, sizeof counts[calls]);   // refCount at 0
    }
    if (calls < INT_MAX) ++calls;
    real_free()(object);
}

__attribute__((visibility("default"))) void kivo_freeobj_reset(void) { calls = 0; }

__attribute__((visibility("default"))) int kivo_freeobj_calls(void) { return calls; }

// The object and its count of call i (0 = first since the reset), i < 16.
__attribute__((visibility("default"))) void *kivo_freeobj_object(int i) {
    return i >= 0 && i < kKept && i < calls ? objects[i] : nullptr;
}

__attribute__((visibility("default"))) int kivo_freeobj_count(int i) {
    return i >= 0 && i < kKept && i < calls ? counts[i] : 0;
}

}  // extern "C"
