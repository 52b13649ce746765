# Which Tcl/Tk tclbridge is built against, and the checks that its headers,
# the libraries it binds and its version texts agree.
#
# Both builds take the headers and libraries from the same four cache
# variables, found on the usual paths when not given; a value that is passed
# is used as it is and only checked, never replaced:
#   KIVO_TCL_INCLUDE_DIR, KIVO_TK_INCLUDE_DIR  folders with tcl.h and tk.h
#   KIVO_TCL_LIBRARY, KIVO_TK_LIBRARY          the libraries the module links
#
# Native build: the version texts are those of the headers, and the libraries
# must be of the same release.
#
# Windows build: KIVO_TCLTK_VERSION names the Tcl/Tk release the DLL binds
# (8.5 for the shipped files). From it follow the imported DLL names
# (tcl85.dll and tk85.dll), the import libraries made from the declaration
# list (unless KIVO_TCL_LIBRARY and KIVO_TK_LIBRARY name import libraries of
# those DLLs) and the version texts. The headers may be of another release
# whose layouts are the same (Debian's 8.6 headers for 8.5):
# tcl_layout.h checks those layouts at compile time.
#
# kivo_tcltk(CDEF <list> OWN <function>... EXTRA <function>...)
#
# OWN names the declared functions the module does itself (not imported),
# EXTRA the undeclared library functions its own entries call. Defines the
# interface target kivo_tcltk (headers, libraries, version definitions), and
# for the Windows tests the internal cache entries KIVO_TCL_DLL_NAME and
# KIVO_TK_DLL_NAME and KIVO_TCL_DEF and KIVO_TK_DEF (the export lists of the
# two libraries as far as the module uses them).

# The releases whose Windows layouts tcl_layout.h knows; 8.5 and 8.6 share
# them.
set(KIVO_TCLTK_KNOWN_VERSIONS 8.5 8.6)

# major.minor of a Tcl or Tk header, from its <PREFIX>_M*_VERSION lines.
function(kivo_header_version header prefix out)
  file(STRINGS ${header} lines REGEX "^#define ${prefix}_M(AJOR|INOR)_VERSION")
  string(REGEX MATCH "${prefix}_MAJOR_VERSION[ \t]+([0-9]+)" _ "${lines}")
  set(major ${CMAKE_MATCH_1})
  string(REGEX MATCH "${prefix}_MINOR_VERSION[ \t]+([0-9]+)" _ "${lines}")
  set(minor ${CMAKE_MATCH_1})
  if(major STREQUAL "" OR minor STREQUAL "")
    message(FATAL_ERROR "no ${prefix} version in ${header}")
  endif()
  set(${out} "${major}.${minor}" PARENT_SCOPE)
endfunction()

# major.minor of a native library, from the file name it resolves to
# (libtcl8.6.so, libtk8.6.so.0, libtcl86.a), or "" when the name has none.
function(kivo_library_version library stem out)
  get_filename_component(real ${library} REALPATH)
  get_filename_component(name ${real} NAME)
  set(version "")
  if(name MATCHES "${stem}([0-9])\\.?([0-9]+)")
    set(version "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}")
  endif()
  set(${out} "${version}" PARENT_SCOPE)
endfunction()

function(kivo_require_header dir header)
  if(NOT dir OR NOT EXISTS ${dir}/${header})
    message(FATAL_ERROR "tclbridge: no ${header} in '${dir}' (install tcl8.6-dev "
      "tk8.6-dev, or set KIVO_TCL_INCLUDE_DIR and KIVO_TK_INCLUDE_DIR)")
  endif()
endfunction()

function(kivo_tcltk)
  cmake_parse_arguments(ARG "" "CDEF" "OWN;EXTRA" ${ARGN})
  # The cross build looks for the generic Tcl headers on the build machine:
  # they compile for the Windows target too.
  find_path(KIVO_TCL_INCLUDE_DIR tcl.h
    PATH_SUFFIXES tcl8.6 tcl8.5 tcl CMAKE_FIND_ROOT_PATH_BOTH
    DOC "Folder with the Tcl header tcl.h")
  find_path(KIVO_TK_INCLUDE_DIR tk.h
    HINTS ${KIVO_TCL_INCLUDE_DIR}
    PATH_SUFFIXES tcl8.6 tcl8.5 tk8.6 tk8.5 tk CMAKE_FIND_ROOT_PATH_BOTH
    DOC "Folder with the Tk header tk.h")
  kivo_require_header("${KIVO_TCL_INCLUDE_DIR}" tcl.h)
  kivo_require_header("${KIVO_TK_INCLUDE_DIR}" tk.h)
  kivo_header_version(${KIVO_TCL_INCLUDE_DIR}/tcl.h TCL tcl_header)
  kivo_header_version(${KIVO_TK_INCLUDE_DIR}/tk.h TK tk_header)

  add_library(kivo_tcltk INTERFACE)
  # The headers are someone else's: no warnings from them.
  target_include_directories(kivo_tcltk SYSTEM INTERFACE
    ${KIVO_TCL_INCLUDE_DIR} ${KIVO_TK_INCLUDE_DIR})

  if(WIN32)
    kivo_tcltk_windows()
  else()
    kivo_tcltk_native()
  endif()
endfunction()

macro(kivo_tcltk_native)
  find_library(KIVO_TCL_LIBRARY NAMES tcl8.6 tcl86 tcl8.5 tcl85
    DOC "The Tcl library the module links against")
  find_library(KIVO_TK_LIBRARY NAMES tk8.6 tk86 tk8.5 tk85
    DOC "The Tk library the module links against")
  if(NOT (KIVO_TCL_LIBRARY AND KIVO_TK_LIBRARY))
    message(FATAL_ERROR "tclbridge needs the Tcl and Tk libraries (Debian: "
      "tcl8.6-dev tk8.6-dev); set KIVO_TCL_LIBRARY and KIVO_TK_LIBRARY")
  endif()
  if(DEFINED KIVO_TCLTK_VERSION AND NOT KIVO_TCLTK_VERSION STREQUAL tcl_header)
    message(FATAL_ERROR "tclbridge: KIVO_TCLTK_VERSION=${KIVO_TCLTK_VERSION} applies "
      "to the Windows build; the native build binds the Tcl/Tk it links "
      "(headers ${tcl_header}): choose it with KIVO_TCL_INCLUDE_DIR and the rest")
  endif()
  # The version texts are the headers'; a library of another release would
  # make them lie about what the module binds.
  foreach(pair "TCL;tcl;${tcl_header}" "TK;tk;${tk_header}")
    list(GET pair 0 var)
    list(GET pair 1 stem)
    list(GET pair 2 header_version)
    kivo_library_version(${KIVO_${var}_LIBRARY} ${stem} library_version)
    if(library_version STREQUAL "")
      set(library_version "of no release its file name shows")
    endif()
    if(NOT library_version STREQUAL header_version)
      message(FATAL_ERROR "tclbridge: ${stem}.h in ${KIVO_${var}_INCLUDE_DIR} is "
        "${header_version}, but KIVO_${var}_LIBRARY=${KIVO_${var}_LIBRARY} is "
        "${library_version}: give the headers and the library of one release")
    endif()
  endforeach()
  target_link_libraries(kivo_tcltk INTERFACE ${KIVO_TCL_LIBRARY} ${KIVO_TK_LIBRARY})
  message(STATUS "tclbridge: Tcl ${tcl_header} and Tk ${tk_header}, "
                 "${KIVO_TCL_LIBRARY}, ${KIVO_TK_LIBRARY}")
endmacro()

macro(kivo_tcltk_windows)
  set(KIVO_TCLTK_VERSION 8.5 CACHE STRING
      "Tcl/Tk release the Windows module binds (DLL names and version texts)")
  if(NOT KIVO_TCLTK_VERSION IN_LIST KIVO_TCLTK_KNOWN_VERSIONS)
    message(FATAL_ERROR "tclbridge: KIVO_TCLTK_VERSION=${KIVO_TCLTK_VERSION}: the "
      "layouts are known for ${KIVO_TCLTK_KNOWN_VERSIONS} only")
  endif()
  string(REPLACE "." "" digits ${KIVO_TCLTK_VERSION})
  set(tcl_dll tcl${digits}.dll)
  set(tk_dll tk${digits}.dll)

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
  target_include_directories(kivo_tcltk SYSTEM INTERFACE ${shim})
  target_compile_definitions(kivo_tcltk INTERFACE
    KIVO_TCLTK_VERSION="${KIVO_TCLTK_VERSION}")

  # The import lists, derived from the declaration list at build time, and
  # an import library made from each (unless the caller gives one).
  set(dir ${CMAKE_BINARY_DIR}/tcl-windows)
  set(tcl_def ${dir}/tcl${digits}.def)
  set(tk_def ${dir}/tk${digits}.def)
  set(args --cdef ${ARG_CDEF})
  foreach(f IN LISTS ARG_OWN)
    list(APPEND args --own ${f})
  endforeach()
  foreach(f IN LISTS ARG_EXTRA)
    list(APPEND args --extra ${f})
  endforeach()
  set(generator ${KIVO_FRAME_DIR}/generator/gen_imports.py)
  add_custom_command(
    OUTPUT ${tcl_def} ${tk_def}
    COMMAND ${KIVO_PYTHON} ${generator} ${args}
            --library ${tcl_dll}=${tcl_def} --library Tk_:${tk_dll}=${tk_def}
    DEPENDS ${generator} ${KIVO_DECLARATION_READER} ${ARG_CDEF}
    COMMENT "Deriving the import lists of ${tcl_dll} and ${tk_dll}")
  set(made ${tcl_def} ${tk_def})

  # Import libraries given by the caller must be those of the DLLs the
  # setting names.
  find_program(KIVO_DLLTOOL NAMES ${CMAKE_DLLTOOL} ${KIVO_MINGW_PREFIX}-dlltool REQUIRED)
  foreach(pair "TCL;tcl;${tcl_dll}" "TK;tk;${tk_dll}")
    list(GET pair 0 var)
    list(GET pair 1 stem)
    list(GET pair 2 dll)
    if(KIVO_${var}_LIBRARY)
      file(STRINGS ${KIVO_${var}_LIBRARY} names REGEX "\\.[Dd][Ll][Ll]")
      string(TOLOWER "${names}" names)
      string(FIND "${names}" "${dll}" found)
      if(found EQUAL -1)
        message(FATAL_ERROR "tclbridge: KIVO_${var}_LIBRARY=${KIVO_${var}_LIBRARY} "
          "does not import from ${dll} (KIVO_TCLTK_VERSION=${KIVO_TCLTK_VERSION})")
      endif()
      set(library ${KIVO_${var}_LIBRARY})
    else()
      set(library ${dir}/lib${stem}${digits}.a)
      add_custom_command(
        OUTPUT ${library}
        COMMAND ${KIVO_DLLTOOL} --input-def ${dir}/${stem}${digits}.def
                --output-lib ${library} --temp-prefix ${dir}/${stem}${digits}
        DEPENDS ${dir}/${stem}${digits}.def
        COMMENT "Making the import library of ${dll}")
      list(APPEND made ${library})
    endif()
    target_link_libraries(kivo_tcltk INTERFACE ${library})
  endforeach()
  add_custom_target(kivo_tcltk_imports DEPENDS ${made})
  add_dependencies(kivo_tcltk kivo_tcltk_imports)
  message(STATUS "tclbridge: binds Tcl/Tk ${KIVO_TCLTK_VERSION} (${tcl_dll}, ${tk_dll}); "
                 "headers Tcl ${tcl_header} and Tk ${tk_header}")

  set(KIVO_TCL_DEF ${tcl_def} CACHE INTERNAL "")
  set(KIVO_TK_DEF ${tk_def} CACHE INTERNAL "")
  set(KIVO_TCL_DLL_NAME ${tcl_dll} CACHE INTERNAL "")
  set(KIVO_TK_DLL_NAME ${tk_dll} CACHE INTERNAL "")
endmacro()
