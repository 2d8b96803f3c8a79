# The interoperation test: the module and the browser session of the dlopen
# suite, run against a libQuv.so that another compiler built.
#   cmake -DREADELF= -DLIBQUV= -DEXPECT_COMPILER= -DMODULE= -DSESSION=
#         -DCXX11_ABI= -P check_foreign.cmake
cmake_minimum_required(VERSION 3.25)
get_filename_component(dir "${LIBQUV}" DIRECTORY)

# The library is the other compiler's: its .comment names that compiler.
execute_process(COMMAND ${READELF} -p .comment ${LIBQUV} OUTPUT_VARIABLE comment RESULT_VARIABLE rc)
get_filename_component(compiler "${EXPECT_COMPILER}" NAME)
# (Every library has "GCC: " from the C runtime's start files; clang adds its own.)
if(compiler MATCHES "^clang")
  set(by_clang TRUE)
else()
  set(by_clang FALSE)
endif()
string(FIND "${comment}" "clang version" at)
if(NOT rc EQUAL 0 OR (by_clang AND at EQUAL -1) OR (NOT by_clang AND NOT at EQUAL -1))
  message(FATAL_ERROR "${LIBQUV} was not built by ${EXPECT_COMPILER}: .comment says\n${comment}")
endif()
# ...and in the module's string ABI.
execute_process(COMMAND ${READELF} -W --dyn-syms ${LIBQUV} OUTPUT_VARIABLE syms)
string(REGEX MATCH "_ZN3quv17CQuvPluginWrapper7ExecuteE[A-Za-z0-9_]*" execute "${syms}")
if(CXX11_ABI AND NOT execute MATCHES "__cxx11")
  message(FATAL_ERROR "${LIBQUV} defines Execute as ${execute}: not the C++11 string ABI")
elseif(NOT CXX11_ABI AND (execute STREQUAL "" OR execute MATCHES "__cxx11"))
  message(FATAL_ERROR "${LIBQUV} defines Execute as '${execute}': not the old string ABI")
endif()

# Both the session program and the module resolve libQuv.so to that library.
foreach(file IN ITEMS "${SESSION}" "${MODULE}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${dir} ldd ${file}
                  OUTPUT_VARIABLE deps RESULT_VARIABLE rc)
  string(REGEX MATCH "libQuv\\.so => [^ ]+" resolved "${deps}")
  if(NOT rc EQUAL 0 OR NOT resolved STREQUAL "libQuv.so => ${LIBQUV}")
    message(FATAL_ERROR "${file} would load '${resolved}', not ${LIBQUV}")
  endif()
endforeach()

# The browser session: load, instance, commands with replies, events, tear-down.
execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${dir}
                        ${SESSION} --gtest_filter=Module.BrowserSession
                OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
message("${out}")
if(NOT rc EQUAL 0 OR NOT out MATCHES "\\[  PASSED  \\] 1 test")
  message(FATAL_ERROR "the browser session against ${LIBQUV} failed (${rc})")
endif()
message(STATUS "${MODULE} and ${LIBQUV} (${compiler}) talked through a whole browser session")
