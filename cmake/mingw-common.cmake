# What the MinGW-w64 toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR
# and KIVO_MINGW_PREFIX for its architecture, then includes this file.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KIVO_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${KIVO_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${KIVO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KIVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs of the build (the tests) run under Wine; the script picks the
# 32-bit or the 64-bit loader by the program's own PE header.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
