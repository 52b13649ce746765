// The features the x86 tables name, as the processor reports them (CPUID):
// under an emulator, those of the processor it emulates.
#include "core/processor.h"

bool samplekit::processor_has(std::string_view feature) {
    __builtin_cpu_init();
    if (feature == "avx2") return __builtin_cpu_supports("avx2");
    if (feature == "fma") return __builtin_cpu_supports("fma");
    if (feature == "bmi2") return __builtin_cpu_supports("bmi2");
    return false;
}
