# Installs a build tree into a scratch DESTDIR, as a TV image would take it:
#   cmake -DBUILD=build/armhf-os -DREADELF=... -DPLUGIN_DIR=lib/browser-plugins
#         -DSIMULATOR=ON|OFF -DMAP=module/nptv.map [-DLIBDIR=lib] [-DDESTDIR=...]
#         [-DLIBQUV=libQuv.so -DPYTHON=python3] [-DWPE_DIR=lib/nptv/wpe]
#         -P check_install.cmake
# Exactly the expected files (nothing of the tests); every ELF file stripped,
# without RPATH or RUNPATH; with LIBQUV, the installed check-framework checks
# it against the installed module.
cmake_minimum_required(VERSION 3.25)
foreach(var BUILD READELF PLUGIN_DIR SIMULATOR MAP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_install: -D${var}= is missing")
  endif()
endforeach()
if(NOT DEFINED LIBDIR)
  set(LIBDIR lib)
endif()
if(NOT DEFINED DESTDIR)
  set(DESTDIR ${BUILD}/install-check)
endif()
get_filename_component(BUILD "${BUILD}" ABSOLUTE)
get_filename_component(DESTDIR "${DESTDIR}" ABSOLUTE)
set(prefix /usr)
set(failures "")
function(fail text)   # a function: the text is not expanded again
  set(failures "${failures}  ${text}\n" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${DESTDIR}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${DESTDIR}
                        ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix} --strip
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_install: cmake --install ${BUILD} failed (${rc}):\n${out}${err}")
endif()

if(IS_ABSOLUTE "${PLUGIN_DIR}")
  set(plugin_dir "${PLUGIN_DIR}")
else()
  set(plugin_dir "${prefix}/${PLUGIN_DIR}")
endif()
string(REGEX REPLACE "^/" "" plugin_dir "${plugin_dir}")
set(doc usr/share/doc/nptv)
set(expected
  ${plugin_dir}/libnptv.so
  usr/bin/check-framework
  ${doc}/README.md ${doc}/CHANGELOG.md ${doc}/LICENSE ${doc}/firmware.md ${doc}/reference.md
  ${doc}/copyright ${doc}/changelog.gz)
if(RECORDER)
  set(recdoc usr/share/doc/nptv-recorder)
  list(APPEND expected usr/${RECORDER_DIR}/libQuv.so
       ${recdoc}/recorder.md ${recdoc}/copyright ${recdoc}/changelog.gz)
endif()
if(SIMULATOR)
  set(simdoc usr/share/doc/nptv-simulator)
  list(APPEND expected usr/${LIBDIR}/libQuv.so usr/bin/tvsim
       ${simdoc}/simulator.md ${simdoc}/copyright ${simdoc}/changelog.gz)
endif()

if(WPE_DIR)
  set(wpedoc usr/share/doc/nptv-wpe)
  string(REGEX REPLACE "^/" "" wpe_dir "${WPE_DIR}")
  if(NOT IS_ABSOLUTE "${WPE_DIR}")
    set(wpe_dir "usr/${wpe_dir}")
  endif()
  list(APPEND expected ${wpe_dir}/libnptv-wpe.so
       ${wpedoc}/wpe-tv.md ${wpedoc}/webkit-host.md ${wpedoc}/copyright ${wpedoc}/changelog.gz)
endif()

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${DESTDIR}" "${DESTDIR}/*")
list(SORT installed)
foreach(f IN LISTS installed)
  if(NOT f IN_LIST expected)
    if(f MATCHES "(^|/)(lib)?(g?test|gmock|nptv_test_host)|_test$|\\.(a|h|cmake)$")
      fail("installs ${f}, a file of the tests or the build")
    else()
      fail("installs ${f}, which the tree must not have")
    endif()
  endif()
endforeach()
foreach(f IN LISTS expected)
  if(NOT f IN_LIST installed)
    fail("does not install ${f}")
  endif()
endforeach()
list(LENGTH installed count)
message(STATUS "installed ${count} files into ${DESTDIR}")

function(readelf out file)
  execute_process(COMMAND ${READELF} -W ${ARGN} ${file}
                  OUTPUT_VARIABLE text ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    set(text "readelf failed: ${err}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Every ELF file: stripped, no RPATH or RUNPATH (the TV's loader paths only).
foreach(f IN LISTS installed)
  set(path ${DESTDIR}/${f})
  file(READ ${path} magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  readelf(sections ${path} -S)
  if(sections MATCHES "readelf failed")
    fail("${f}: ${sections}")
  endif()
  if(sections MATCHES "\\.symtab|\\.debug_")
    fail("${f} is not stripped (has a symbol table or debug information)")
  endif()
  readelf(dynamic ${path} -d)
  if(dynamic MATCHES "\\((RPATH|RUNPATH)\\)[^\n]*")
    fail("${f} has ${CMAKE_MATCH_0}")
  endif()
endforeach()

# The module's exports are checked on every built tree (tests/target).
set(module ${DESTDIR}/${plugin_dir}/libnptv.so)
if(LIBQUV AND EXISTS ${module})
  execute_process(COMMAND ${PYTHON} ${DESTDIR}/usr/bin/check-framework ${LIBQUV}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "\nmodule: +${module}\n")
    fail("the installed check-framework did not check ${LIBQUV} against ${module} (exit ${rc}):\n${out}${err}")
  endif()
endif()

if(failures)
  message(FATAL_ERROR "the installed tree of ${BUILD} (${DESTDIR}):\n${failures}")
endif()
message(STATUS "installed tree of ${BUILD}: ok")
