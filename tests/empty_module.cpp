// Deliberately empty apart from one function: a library of the same toolchain
// and flags as the modules, to compare their start-up sections against.
extern "C" int kivo_empty_module(void) { return 0; }
