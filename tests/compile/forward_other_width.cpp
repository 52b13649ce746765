// A forward to a library function that takes an integer of another width
// would convert the value: it must not compile.
#include "frame/forward.h"

extern "C" int library_function(long long);
extern "C" int entry(int value) {
    return kivo::forwarder<decltype(entry)>::call(&library_function, value);
}
