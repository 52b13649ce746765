// A libFuzzer target for one routine, named by KIVO_FUZZ_CHECK at build time.
#include <cstddef>
#include <cstdint>

#include "fuzz_calls.h"
#include "runnable.h"

// The tables this processor cannot run are left out, and named once.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    kivo_tests::report_left_out();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::Input in(data, size);
    fuzz::KIVO_FUZZ_CHECK(in);
    return 0;
}
