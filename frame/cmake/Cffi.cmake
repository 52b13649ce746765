# CFFI, as the module frame uses it: its parser reads the declaration lists at
# build time (through generator/cffi_decls.py, which states the CFFI releases
# it supports), and its parse_c_type.h defines the type-context records. The
# header is used from the installed cffi package; it is never copied into
# this tree.
execute_process(
  COMMAND ${KIVO_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/../generator/cffi_decls.py --version
  OUTPUT_VARIABLE KIVO_CFFI_VERSION ERROR_VARIABLE _cffi_error
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE _cffi_result)
if(NOT _cffi_result EQUAL 0)
  message(FATAL_ERROR "${KIVO_PYTHON} cannot read declaration lists: ${_cffi_error} "
                      "(install python3-cffi)")
endif()
execute_process(
  COMMAND ${KIVO_PYTHON} -c "import cffi, os; print(os.path.dirname(cffi.__file__))"
  OUTPUT_VARIABLE KIVO_CFFI_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS "${KIVO_CFFI_DIR}/parse_c_type.h")
  message(FATAL_ERROR "the cffi package of ${KIVO_PYTHON} has no parse_c_type.h "
                      "(install python3-cffi)")
endif()
message(STATUS "CFFI ${KIVO_CFFI_VERSION}: ${KIVO_CFFI_DIR}")
