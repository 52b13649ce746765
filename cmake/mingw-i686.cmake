# Cross build of the shipped form: 32-bit x86 Windows DLLs, made with
# Debian's MinGW-w64 compiler (g++-mingw-w64-i686-posix).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KIVO_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "Prefix of the cross tools")

include(${CMAKE_CURRENT_LIST_DIR}/x86-32.cmake)
set(CMAKE_C_FLAGS_INIT "${KIVO_X86_32_FLAGS_STRING}")
set(CMAKE_CXX_FLAGS_INIT "${KIVO_X86_32_FLAGS_STRING}")

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
