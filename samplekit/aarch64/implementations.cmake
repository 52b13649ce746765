# The aarch64 table (aarch64/tables.h), included by samplekit_kernels().
# Advanced SIMD is in the baseline, so its files need no flags of their own.
samplekit_implementation(samplekit::aarch64::neon_table
  HEADER aarch64/tables.h
  SOURCES aarch64/add_neon.cpp aarch64/tostereo_neon.cpp
          aarch64/ratecv_neon.cpp
          aarch64/lin2adcpm_scalar.cpp aarch64/adcpm2lin_scalar.cpp)
set(samplekit_shipped samplekit::aarch64::neon_table)
