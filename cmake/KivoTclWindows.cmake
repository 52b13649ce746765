# tclbridge for Windows. There is no Tcl/Tk SDK for Windows to build
# against, so the module is compiled against Tcl's generic headers (Debian's
# tcl8.6-dev and tk8.6-dev headers compile for this target) and linked
# against import libraries made from the list of the names it imports, which
# is derived from the declaration list.
#
# kivo_tcl_windows(CDEF <list> OWN <function>... EXTRA <function>...)
#
# OWN names the declared functions the module does itself (they are not
# imported), EXTRA the undeclared library functions its own entries call.
# Sets KIVO_TCL_INCLUDE_DIR, KIVO_TK_INCLUDE_DIR, KIVO_TCL_LIBRARY and
# KIVO_TK_LIBRARY in the caller's scope, and for the tests the internal cache
# entries KIVO_TCL_DLL_NAME and KIVO_TK_DLL_NAME (the library names),
# KIVO_TCL_DEF and KIVO_TK_DEF (the export lists of the two libraries, as far
# as the module uses them) and KIVO_TCL_HEADER_VERSION and
# KIVO_TK_HEADER_VERSION (major.minor of the headers).
#
# The library names are a build option (KIVO_TCL_DLL, KIVO_TK_DLL); by
# default they follow Tcl's Windows naming from the header version: tcl86 and
# tk86 with 8.6 headers, tcl85 and tk85 with 8.5 headers.
set(KIVO_TCL_HEADER_DIR /usr/include/tcl8.6 CACHE PATH
    "Folder with tcl.h and tk.h for the Windows build")
set(KIVO_TCL_DLL "" CACHE STRING "Tcl library the Windows module imports from (default from tcl.h)")
set(KIVO_TK_DLL "" CACHE STRING "Tk library the Windows module imports from (default from tk.h)")

function(kivo_header_version header prefix out)
  file(STRINGS ${header} lines REGEX "^#define ${prefix}_M(AJOR|INOR)_VERSION")
  string(REGEX MATCH "${prefix}_MAJOR_VERSION[ \t]+([0-9]+)" _ "${lines}")
  set(major ${CMAKE_MATCH_1})
  string(REGEX MATCH "${prefix}_MINOR_VERSION[ \t]+([0-9]+)" _ "${lines}")
  set(minor ${CMAKE_MATCH_1})
  if(major STREQUAL "" OR minor STREQUAL "")
    message(FATAL_ERROR "no ${prefix} version in ${header}")
  endif()
  set(${out} "${major}${minor}" PARENT_SCOPE)
  set(${out}_text "${major}.${minor}" PARENT_SCOPE)
endfunction()

function(kivo_tcl_windows)
  cmake_parse_arguments(ARG "" "CDEF" "OWN;EXTRA" ${ARGN})
  set(headers ${KIVO_TCL_HEADER_DIR})
  foreach(h tcl.h tk.h)
    if(NOT EXISTS ${headers}/${h})
      message(FATAL_ERROR "no ${h} in ${headers} (install tcl8.6-dev tk8.6-dev, "
                          "or set KIVO_TCL_HEADER_DIR)")
    endif()
  endforeach()
  kivo_header_version(${headers}/tcl.h TCL tcl_version)
  kivo_header_version(${headers}/tk.h TK tk_version)
  set(tcl_dll "${KIVO_TCL_DLL}")
  set(tk_dll "${KIVO_TK_DLL}")
  if("${tcl_dll}" STREQUAL "")
    set(tcl_dll tcl${tcl_version}.dll)
  endif()
  if("${tk_dll}" STREQUAL "")
    set(tk_dll tk${tk_version}.dll)
  endif()

  # tk.h declares its functions with X11's types. Only X11's headers are
  # made visible, not the rest of the build machine's include folder.
  find_path(KIVO_X11_INCLUDE_DIR X11/Xlib.h PATHS /usr/include
            NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
  if(NOT KIVO_X11_INCLUDE_DIR)
    message(FATAL_ERROR "tk.h needs X11/Xlib.h (install libx11-dev)")
  endif()
  set(shim ${CMAKE_BINARY_DIR}/tcl-windows/include)
  file(MAKE_DIRECTORY ${shim})
  file(CREATE_LINK ${KIVO_X11_INCLUDE_DIR}/X11 ${shim}/X11 SYMBOLIC)

  # The import lists, derived at configure time (the declaration list is a
  # configure dependency), and an import library for each.
  set(dir ${CMAKE_BINARY_DIR}/tcl-windows)
  string(REGEX REPLACE "\\.dll$" "" tcl_stem ${tcl_dll})
  string(REGEX REPLACE "\\.dll$" "" tk_stem ${tk_dll})
  set(tcl_def ${dir}/${tcl_stem}.def)
  set(tk_def ${dir}/${tk_stem}.def)
  set(args --cdef ${ARG_CDEF})
  foreach(f IN LISTS ARG_OWN)
    list(APPEND args --own ${f})
  endforeach()
  foreach(f IN LISTS ARG_EXTRA)
    list(APPEND args --extra ${f})
  endforeach()
  set(generator ${PROJECT_SOURCE_DIR}/tools/gen_imports.py)
  execute_process(
    COMMAND ${KIVO_PYTHON} ${generator} ${args}
            --library ${tcl_dll}=${tcl_def} --library Tk_:${tk_dll}=${tk_def}
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "deriving the import lists of ${ARG_CDEF} failed")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARG_CDEF} ${generator})
  find_program(KIVO_DLLTOOL NAMES ${CMAKE_DLLTOOL} ${KIVO_MINGW_PREFIX}-dlltool REQUIRED)
  foreach(stem ${tcl_stem} ${tk_stem})
    # Remade only when its list changed (the list is rewritten only then).
    if(EXISTS ${dir}/lib${stem}.a AND NOT ${dir}/${stem}.def IS_NEWER_THAN ${dir}/lib${stem}.a)
      continue()
    endif()
    execute_process(
      COMMAND ${KIVO_DLLTOOL} --input-def ${dir}/${stem}.def
              --output-lib ${dir}/lib${stem}.a --temp-prefix ${dir}/${stem}
      RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "making the import library of ${stem} failed")
    endif()
  endforeach()
  message(STATUS "tclbridge: imports from ${tcl_dll} and ${tk_dll} "
                 "(headers ${tcl_version_text} and ${tk_version_text} in ${headers})")

  set(KIVO_TCL_INCLUDE_DIR ${headers} PARENT_SCOPE)
  set(KIVO_TK_INCLUDE_DIR ${headers} ${shim} PARENT_SCOPE)
  set(KIVO_TCL_LIBRARY ${dir}/lib${tcl_stem}.a PARENT_SCOPE)
  set(KIVO_TK_LIBRARY ${dir}/lib${tk_stem}.a PARENT_SCOPE)
  set(KIVO_TCL_DEF ${tcl_def} CACHE INTERNAL "")
  set(KIVO_TK_DEF ${tk_def} CACHE INTERNAL "")
  set(KIVO_TCL_DLL_NAME ${tcl_dll} CACHE INTERNAL "")
  set(KIVO_TK_DLL_NAME ${tk_dll} CACHE INTERNAL "")
  set(KIVO_TCL_HEADER_VERSION ${tcl_version_text} CACHE INTERNAL "")
  set(KIVO_TK_HEADER_VERSION ${tk_version_text} CACHE INTERNAL "")
endfunction()
