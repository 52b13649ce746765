# What the Linux cross builds share, included by their toolchain files after
# they set KIVO_CROSS_TRIPLE (the cross tools' prefix, e.g. i686-linux-gnu)
# and KIVO_CROSS_QEMU_ARCH (the architecture tools/target-run.sh knows).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${KIVO_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KIVO_CROSS_TRIPLE}-g++)

# The test programs carry their libraries, so that they need none of the
# target's on this machine, natively or emulated.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_FIND_ROOT_PATH /usr/${KIVO_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../tools/target-run.sh ${KIVO_CROSS_QEMU_ARCH})
