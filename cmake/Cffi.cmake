# CFFI's parse_c_type.h, which defines the type-context records, is used from
# the installed cffi package; it is never copied into this tree.
execute_process(
  COMMAND ${KIVO_PYTHON} -c "import cffi, os; print(os.path.dirname(cffi.__file__))"
  OUTPUT_VARIABLE KIVO_CFFI_DIR OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE _cffi_result)
if(NOT _cffi_result EQUAL 0 OR NOT EXISTS "${KIVO_CFFI_DIR}/parse_c_type.h")
  message(FATAL_ERROR "${KIVO_PYTHON} has no cffi package with parse_c_type.h "
                      "(install python3-cffi)")
endif()
message(STATUS "CFFI headers: ${KIVO_CFFI_DIR}")
