# Cross build of the shipped form: 32-bit x86 Windows DLLs, made with
# Debian's MinGW-w64 compiler. Programs of the build (the tests) run under
# Wine through tools/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KIVO_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "Prefix of the cross tools")
set(CMAKE_C_COMPILER ${KIVO_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${KIVO_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${KIVO_MINGW_PREFIX}-windres)

# Double arithmetic in SSE2 registers, as on the shipped target: the x87 unit
# would keep intermediates in extended precision and round differently.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

set(CMAKE_FIND_ROOT_PATH /usr/${KIVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
