// A forward whose library prototype differs only where the call stays the
// same (a const pointee, void * for a named pointee) compiles.
#include "frame/forward.h"

struct Item;
extern "C" int library_function(const char *, Item *, long long);
extern "C" int entry(char *text, void *item, long long wide) {
    return kivo::forwarder<decltype(entry)>::call(&library_function, text, item, wide);
}
