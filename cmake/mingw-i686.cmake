# Cross build of the shipped form: 32-bit x86 Windows DLLs, made with
# Debian's MinGW-w64 compiler (g++-mingw-w64-i686-posix).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KIVO_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "Prefix of the cross tools")

# Double arithmetic in SSE2 registers, as on the shipped target: the x87 unit
# would keep intermediates in extended precision and round differently.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
