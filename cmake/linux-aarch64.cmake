# Cross build of _samplekit for 64-bit Arm Linux, with Debian's aarch64 cross
# compiler. Programs of the build run natively on an aarch64 machine, else
# under QEMU (tools/target-run.sh).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(KIVO_CROSS_TRIPLE aarch64-linux-gnu)
set(KIVO_CROSS_QEMU_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
