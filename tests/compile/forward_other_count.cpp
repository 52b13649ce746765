// A forward to a library function with another number of parameters must
// not compile.
#include "frame/forward.h"

extern "C" int library_function(int, int);
extern "C" int entry(int value) {
    return kivo::forwarder<decltype(entry)>::call(&library_function, value);
}
