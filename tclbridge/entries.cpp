// The entries that tclbridge does itself rather than pass on to Tcl or Tk:
// the reference-count operations on Tcl_Obj, which Tcl's header offers only
// as macros, and the versions of the Tcl and Tk the module binds.
#include <climits>
#include <cstddef>
#include <type_traits>

#include "tclbridge_decls.h"
#include "tcl_layout.h"

// The host reads the count as a signed 32-bit word at the start of the object.
static_assert(offsetof(Tcl_Obj, refCount) == 0);
static_assert(std::is_same_v<decltype(Tcl_Obj::refCount), int> && sizeof(int) == 4);

// The declaration list names the 16-bit unit and says Tcl_WideInt is declared.
static_assert(std::is_same_v<Tcl_UniChar, unsigned short>,
              "this Tcl uses another Tcl_UniChar than the declaration list");
static_assert(sizeof(Tcl_WideInt) == 8 && static_cast<Tcl_WideInt>(-1) < 0);

namespace {

// Counts wrap like the machine word instead of overflowing: a count taken
// past INT_MAX by a broken caller is already meaningless, but must not make
// the arithmetic undefined.
int add_to_count(int count, unsigned delta) {
    return static_cast<int>(static_cast<unsigned>(count) + delta);
}

// The Windows module names the release it binds (its headers may be of
// another with the same layouts); the native one binds the release of its
// headers, which the build checks against the libraries it links.
#if defined(KIVO_TCLTK_VERSION)
constexpr char tcl_version[] = KIVO_TCLTK_VERSION;
constexpr char tk_version[] = KIVO_TCLTK_VERSION;
#else
constexpr char tcl_version[] = TCL_VERSION;
constexpr char tk_version[] = TK_VERSION;
#endif

}  // namespace

// A null object has no count: both operations leave it alone rather than
// fault on the caller's mistake.
extern "C" void entry_Tcl_IncrRefCount(Tcl_Obj *object) {
    if (object == nullptr) return;
    object->refCount = add_to_count(object->refCount, 1u);
}

extern "C" void entry_Tcl_DecrRefCount(Tcl_Obj *object) {
    if (object == nullptr) return;
    int count = add_to_count(object->refCount, UINT_MAX);   // minus one
    object->refCount = count;
    if (count > 0) return;
    // Tcl frees the object; it must not be touched after this call.
    TclFreeObj(object);
}

// The texts are constant; the declared result type is char * only because
// the host's declaration says so. Nobody writes through it.
extern "C" char *entry_get_tcl_version(void) {
    return const_cast<char *>(tcl_version);
}

extern "C" char *entry_get_tk_version(void) {
    return const_cast<char *>(tk_version);
}
