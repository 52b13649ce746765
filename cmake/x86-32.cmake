# The code generation of every 32-bit x86 build (the shipped DLLs, Linux
# i686, the 32-bit fuzz targets): SSE2, and double arithmetic in SSE
# registers; the x87 unit would keep intermediates in extended precision and
# round differently.
set(KIVO_X86_32_FLAGS -msse2 -mfpmath=sse)
list(JOIN KIVO_X86_32_FLAGS " " KIVO_X86_32_FLAGS_STRING)
