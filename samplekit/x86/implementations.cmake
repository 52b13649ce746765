# The x86 tables (x86/tables.h), included by samplekit_kernels().
#
# The AVX2 table is built for x86-64-v3, for 64-bit x86 outside Windows:
# there GCC realigns the stack for 32-byte values, and a Windows host needs
# no AVX2 form. KIVO_SAMPLEKIT_ARCH raises the baseline of a native build to
# it, and the module then ships the AVX2 table; there is no choice at run
# time.
set(x86_avx2_march x86-64-v3)

samplekit_implementation(samplekit::x86::sse2_table
  HEADER x86/tables.h
  SOURCES x86/add_sse2.cpp x86/tostereo_sse2.cpp x86/ratecv_sse2.cpp
          x86/lin2adcpm_scalar.cpp x86/adcpm2lin_scalar.cpp)
set(samplekit_shipped samplekit::x86::sse2_table)

if(samplekit_bits EQUAL 64 AND NOT WIN32)
  samplekit_implementation(samplekit::x86::avx2_table
    HEADER x86/tables.h
    SOURCES x86/tostereo_avx2.cpp x86/ratecv_avx2.cpp
    OPTIONS -march=${x86_avx2_march})
  set(KIVO_SAMPLEKIT_ARCH "" CACHE STRING
      "empty: _samplekit ships its SSE2 table; ${x86_avx2_march}: it is built for ${x86_avx2_march} and ships its AVX2 table")
  if(KIVO_SAMPLEKIT_ARCH STREQUAL "${x86_avx2_march}")
    set(samplekit_baseline -march=${x86_avx2_march})
    set(samplekit_shipped samplekit::x86::avx2_table)
  elseif(KIVO_SAMPLEKIT_ARCH)
    message(FATAL_ERROR "KIVO_SAMPLEKIT_ARCH is '${KIVO_SAMPLEKIT_ARCH}': empty or "
                        "${x86_avx2_march}, the baselines of the x86 tables")
  endif()
endif()
