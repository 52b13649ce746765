# Cross build of 64-bit x86-64 Windows DLLs, made with Debian's MinGW-w64
# compiler (g++-mingw-w64-x86-64-posix). SSE2 doubles are the x86-64
# baseline: no flags needed for the same rounding as the 32-bit DLLs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KIVO_MINGW_PREFIX x86_64-w64-mingw32 CACHE STRING "Prefix of the cross tools")

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
