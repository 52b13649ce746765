// The two exports of a module: the init entry, which hands the host the type
// context, and the PyInit_ entry, which only returns null. Nothing else of a
// module is exported (hidden visibility plus the export list of
// frame/cmake/KivoModule.cmake).
#pragma once

#include "frame/context.h"

#if defined(_WIN32)
#define KIVO_EXPORT __declspec(dllexport)
#else
#define KIVO_EXPORT __attribute__((visibility("default")))
#endif

// Format version of the type context handed over by the init entry.
#define KIVO_CONTEXT_VERSION 0x2601

#define KIVO_MODULE_EXPORTS(name, context)                                   \
    extern "C" KIVO_EXPORT void *_cffi_kivoinit_##name(const void *slots[]) { \
        slots[0] = reinterpret_cast<const void *>(                          \
            static_cast<std::uintptr_t>(KIVO_CONTEXT_VERSION));             \
        slots[1] = &(context);                                               \
        return nullptr;                                                      \
    }                                                                        \
    extern "C" KIVO_EXPORT void *PyInit_##name(void) { return nullptr; }
