# Compiles one source and checks the outcome: that it compiles
# (EXPECT=accepted), or that the compiler refuses it with a message matching
# MATCH (EXPECT=refused). For the promises that are kept at compile time.
#   cmake -DCXX=... -DFLAGS=<;-list> -DSOURCE=... -DEXPECT=accepted|refused
#         [-DMATCH=<regex>] -P compile_check.cmake
execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only ${FLAGS} ${SOURCE}
                RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
get_filename_component(name ${SOURCE} NAME)
if(EXPECT STREQUAL "accepted" AND NOT result EQUAL 0)
  message(FATAL_ERROR "${name} should compile:\n${errors}")
elseif(EXPECT STREQUAL "refused" AND result EQUAL 0)
  message(FATAL_ERROR "${name} compiles, but must be refused")
elseif(EXPECT STREQUAL "refused" AND NOT errors MATCHES "${MATCH}")
  message(FATAL_ERROR "${name} is refused, but not for '${MATCH}':\n${errors}")
endif()
message("${name}: ${EXPECT} as it must be")
