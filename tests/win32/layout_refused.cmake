# A Windows tclbridge compiled against a Tcl header whose Tcl_Obj is not the
# 32-bit layout of the release it binds must not build. Compiles the layout
# checks against the real headers (they must pass, so the probe itself is
# sound) and against a copy of tcl.h whose reference count is 8 bytes wide
# (they must fail, naming Tcl_Obj).
#   cmake -DCXX=... -DTCL_INCLUDE_DIR=... -DSOURCE_DIR=... -DWORK_DIR=...
#         -P layout_refused.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/other)
file(WRITE ${WORK_DIR}/probe.cpp "#include <tcl.h>\n#include \"tcl_layout.h\"\n")
file(READ ${TCL_INCLUDE_DIR}/tcl.h text)
string(REPLACE "    int refCount;" "    long long refCount;" other "${text}")
if(other STREQUAL text)
  message(FATAL_ERROR "no Tcl_Obj reference count found in ${TCL_INCLUDE_DIR}/tcl.h")
endif()
file(WRITE ${WORK_DIR}/other/tcl.h "${other}")

function(compile out include_dir)
  execute_process(
    COMMAND ${CXX} -std=c++20 -fsyntax-only "-DKIVO_TCLTK_VERSION=\"8.5\""
            -I${include_dir} -I${SOURCE_DIR}/tclbridge -isystem ${TCL_INCLUDE_DIR}
            ${WORK_DIR}/probe.cpp
    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
  set(${out}_result ${result} PARENT_SCOPE)
  set(${out}_errors "${errors}" PARENT_SCOPE)
endfunction()

compile(real ${TCL_INCLUDE_DIR})
compile(other ${WORK_DIR}/other)
set(failed 0)
if(NOT real_result EQUAL 0)
  message("FAILED: the real headers are refused:\n${real_errors}")
  math(EXPR failed "${failed} + 1")
endif()
if(other_result EQUAL 0 OR NOT other_errors MATCHES "Tcl_Obj is not")
  message("FAILED: a tcl.h with another Tcl_Obj layout is accepted:\n${other_errors}")
  math(EXPR failed "${failed} + 1")
endif()
math(EXPR passed "2 - ${failed}")
message("layout_refused: ${passed} passed, ${failed} failed")
if(failed)
  message(FATAL_ERROR "")
endif()
