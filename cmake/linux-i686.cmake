# Cross build of _samplekit for 32-bit x86 Linux, with Debian's i686 cross
# compiler and the shipped DLLs' code generation: SSE2, and double arithmetic
# in SSE registers (the x87 unit would keep intermediates in extended
# precision and round differently). Programs of the build run natively where
# the kernel runs 32-bit programs, else under QEMU (tools/target-run.sh).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KIVO_CROSS_TRIPLE i686-linux-gnu)
set(KIVO_CROSS_QEMU_ARCH i386)
include(${CMAKE_CURRENT_LIST_DIR}/x86-32.cmake)
set(CMAKE_C_FLAGS_INIT "-m32 ${KIVO_X86_32_FLAGS_STRING}")
set(CMAKE_CXX_FLAGS_INIT "-m32 ${KIVO_X86_32_FLAGS_STRING}")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
