# Building an extension module of the host: the module frame's CMake half.
#
# The file name is the module name followed by the host's extension suffix,
# which names the host and the target; the rule lives here and nowhere else.
if(WIN32)
  # What follows from the Windows target's processor, and nowhere else: the
  # file tag, the PE machine the tests expect, and the entry symbol (32-bit
  # x86 decorates a stdcall name with its argument bytes, x86-64 does not).
  #   processor | file tag | PE machine | entry symbol
  set(windows_targets
    "i686|win32|0x14C|_DllMainCRTStartup@12"
    "x86_64|win_amd64|0x8664|DllMainCRTStartup")
  set(KIVO_TARGET_TAG "")
  foreach(row IN LISTS windows_targets)
    string(REPLACE "|" ";" row "${row}")
    list(GET row 0 processor)
    if(processor STREQUAL CMAKE_SYSTEM_PROCESSOR)
      list(GET row 1 KIVO_TARGET_TAG)
      list(GET row 2 KIVO_PE_MACHINE)
      list(GET row 3 KIVO_DLL_ENTRY)
    endif()
  endforeach()
  if(KIVO_TARGET_TAG STREQUAL "")
    message(FATAL_ERROR "no Windows module build for the processor "
      "'${CMAKE_SYSTEM_PROCESSOR}' (known: i686, x86_64)")
  endif()
  set(KIVO_LIBRARY_SUFFIX .pyd)
else()
  set(KIVO_TARGET_TAG "${CMAKE_SYSTEM_PROCESSOR}-linux-gnu")
  set(KIVO_LIBRARY_SUFFIX .so)
endif()
set(KIVO_EXTENSION_SUFFIX ".kivo3-510-${KIVO_TARGET_TAG}${KIVO_LIBRARY_SUFFIX}")

if(WIN32)
  # How a Windows module is linked, shared with the empty library the tests
  # compare the modules against: its own entry point (frame/dll_entry.cpp)
  # instead of the toolchain's start-up objects, libgcc linked in (the DLL
  # needs only KERNEL32), no time stamp in the PE header and no symbol
  # table, so that the same sources give the same bytes.
  set(KIVO_WIN32_ENTRY_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../dll_entry.cpp)
  # Without the start-up objects nothing would apply runtime pseudo-
  # relocations, so a data import reached through auto-import must be a link
  # error rather than a wrong address.
  set(KIVO_WIN32_LINK_OPTIONS -nostartfiles -Wl,--entry,${KIVO_DLL_ENTRY}
      -Wl,--disable-auto-import -Wl,--disable-runtime-pseudo-reloc
      -static-libgcc -Wl,--no-insert-timestamp -s)
  # A module is linked by the C driver, but CMake would still add the C++
  # driver's libraries for its C++ objects; libgcc_s among them would make the
  # DLL import 64-bit division from libgcc's DLL instead of linking it in.
  list(REMOVE_ITEM CMAKE_CXX_IMPLICIT_LINK_LIBRARIES stdc++ gcc_s)
endif()

set(KIVO_FRAME_DIR ${CMAKE_CURRENT_LIST_DIR}/..)
set(KIVO_GENERATOR ${KIVO_FRAME_DIR}/generator/gen_context.py)
set(KIVO_DECLARATION_READER ${KIVO_FRAME_DIR}/generator/cffi_decls.py)

# kivo_module(<name> CDEF <list> SOURCES <file>... [INCLUDES <header>...]
#             [ENTRY_PREFIX <prefix>] [LINK <lib>...]
#             [FORWARDS [OWN_ENTRIES <function>...]])
#
# Derives the type context and the entry prototypes from the declaration list
# (<stem>_decls.h, included by the sources through the interface library
# <stem>_declarations; <stem> is <name> without a leading underscore), builds
# the routines as an object library <stem>_routines (shared with the unit
# tests), and links the module with exactly the two exports of frame/module.h.
#
# With FORWARDS (which needs ENTRY_PREFIX), the entry of every declared
# function not listed in OWN_ENTRIES is generated too (<stem>_forwards.cpp):
# it passes the call on to the function of the declared name in the LINK
# libraries. The sources define the entries of OWN_ENTRIES.
function(kivo_module name)
  cmake_parse_arguments(ARG "FORWARDS" "CDEF;ENTRY_PREFIX"
                        "SOURCES;INCLUDES;LINK;OWN_ENTRIES" ${ARGN})
  set(gen_dir ${CMAKE_CURRENT_BINARY_DIR}/generated)
  string(REGEX REPLACE "^_" "" stem ${name})
  set(header ${gen_dir}/${stem}_decls.h)
  set(context ${gen_dir}/${stem}_context.cpp)
  set(include_args)
  foreach(h IN LISTS ARG_INCLUDES)
    list(APPEND include_args --include ${h})
  endforeach()
  set(forwards)
  set(forward_args)
  if(ARG_FORWARDS)
    set(forwards ${gen_dir}/${stem}_forwards.cpp)
    list(APPEND forward_args --forwards ${forwards})
    foreach(f IN LISTS ARG_OWN_ENTRIES)
      list(APPEND forward_args --own ${f})
    endforeach()
  endif()
  add_custom_command(
    OUTPUT ${header} ${context} ${forwards}
    COMMAND ${KIVO_PYTHON} ${KIVO_GENERATOR} --module ${name}
            --cdef ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_CDEF}
            --header ${header} --source ${context}
            "--entry-prefix=${ARG_ENTRY_PREFIX}" ${include_args} ${forward_args}
    DEPENDS ${KIVO_GENERATOR} ${KIVO_DECLARATION_READER} ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_CDEF}
    COMMENT "Deriving the type context of ${name}")

  # What code of the module needs to include the generated header, and to
  # have it made first: <stem>_declarations.
  add_custom_target(${stem}_generated DEPENDS ${header} ${context} ${forwards})
  add_library(${stem}_declarations INTERFACE)
  target_include_directories(${stem}_declarations INTERFACE
    ${gen_dir} ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR} ${KIVO_CFFI_DIR})
  add_dependencies(${stem}_declarations ${stem}_generated)

  add_library(${stem}_routines OBJECT ${ARG_SOURCES} ${forwards} ${header})
  target_link_libraries(${stem}_routines PUBLIC ${stem}_declarations ${ARG_LINK})

  add_library(${stem} MODULE ${context} $<TARGET_OBJECTS:${stem}_routines>)
  target_include_directories(${stem} PRIVATE
    ${gen_dir} ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR} ${KIVO_CFFI_DIR})
  target_link_libraries(${stem} PRIVATE ${ARG_LINK})
  set_target_properties(${stem} PROPERTIES
    OUTPUT_NAME ${name} PREFIX "" SUFFIX ${KIVO_EXTENSION_SUFFIX}
    # Linked by the C driver: the module needs the C runtime only.
    LINKER_LANGUAGE C)

  # The export list: exactly the init entry and the PyInit_ entry.
  if(WIN32)
    set(def ${gen_dir}/${name}.def)
    file(WRITE ${def} "EXPORTS\n    _cffi_kivoinit_${name}\n    PyInit_${name}\n")
    target_sources(${stem} PRIVATE ${def} ${KIVO_WIN32_ENTRY_SOURCE})
    target_link_options(${stem} PRIVATE ${KIVO_WIN32_LINK_OPTIONS})
  else()
    set(map ${gen_dir}/${name}.map)
    file(WRITE ${map}
      "{\n  global:\n    _cffi_kivoinit_${name};\n    PyInit_${name};\n  local:\n    *;\n};\n")
    target_link_options(${stem} PRIVATE
      -Wl,--version-script=${map} -Wl,--no-undefined -Wl,--as-needed
      -static-libgcc -Wl,-z,relro,-z,now)
    set_property(TARGET ${stem} APPEND PROPERTY LINK_DEPENDS ${map})
  endif()
  install(TARGETS ${stem} LIBRARY DESTINATION . COMPONENT modules)
  # What the build facts file says of the module (kivo_write_build_facts).
  set_property(GLOBAL APPEND PROPERTY KIVO_MODULES
    "\"${name}\": {\"file\": \"$<TARGET_FILE:${stem}>\", \"declarations\": \"${CMAKE_CURRENT_SOURCE_DIR}/${ARG_CDEF}\"}")
  if(KIVO_SANITIZE OR KIVO_TSAN)
    # A module loaded into an uninstrumented host uses the shared runtime,
    # which the host-level tests preload.
    target_link_options(${stem} PRIVATE -shared-libsan)
  endif()
endfunction()

# Writes <build>/kivo_modules.json: the target, the compiler, and for every
# module of the build its file and its declaration list. The host loader (kivohost) and the tests find the
# modules through it, so the file name rule above is not restated anywhere.
function(kivo_write_build_facts)
  get_property(modules GLOBAL PROPERTY KIVO_MODULES)
  list(JOIN modules ",\n    " body)
  get_filename_component(compiler ${CMAKE_CXX_COMPILER} NAME)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/kivo_modules.json CONTENT
"{
  \"extension_suffix\": \"${KIVO_EXTENSION_SUFFIX}\",
  \"target\": \"${KIVO_TARGET_TAG}\",
  \"compiler\": \"${compiler} (${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION})\",
  \"modules\": {
    ${body}
  }
}
")
endfunction()
