# The Debian Depends of the module, made from the runtime floor measured on
# the built file (the newest symbol version nodes it needs, as the target
# checks measure them):
#   cmake -DREADELF=... -DMODULE=libnptv.so -P debian-depends.cmake
# prints e.g. "libc6 (>= 2.4), libgcc-s1 (>= 3.5), libstdc++6 (>= 5)":
# glibc by its GLIBC_ node, libgcc-s1 by its GCC_ node, libstdc++6 by the
# oldest GCC whose C++ runtime has the GLIBCXX_ and CXXABI_ nodes needed.
# With -DSHLIBS=FILE (the target packages' shlibs lines, which
# tools/armhf-sysroot.sh gathers) every other library in its DT_NEEDED is
# added as the package that provides it says ("libglib2.0-0 (>= 2.74.0)").
cmake_minimum_required(VERSION 3.25)
foreach(var READELF MODULE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "debian-depends: -D${var}= is missing")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -DREADELF=${READELF} -DMODULE=${MODULE} -DCHECK=versions
                        -P ${CMAKE_CURRENT_LIST_DIR}/../tests/target/check_module.cmake
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
# "-- floor: GLIBC_2.4 GLIBCXX_3.4.21 CXXABI_1.3 GCC_3.5 -> a C++ runtime of GCC 5 or later"
if(NOT rc EQUAL 0 OR NOT out MATCHES "floor: ([^\n]*) -> a C\\+\\+ runtime of GCC ([0-9.]+) or later")
  message(FATAL_ERROR "debian-depends: no runtime floor measured on ${MODULE}: ${out}${err}")
endif()
set(runtime ${CMAKE_MATCH_2})
string(REPLACE " " ";" nodes "${CMAKE_MATCH_1}")
set(glibc "")
set(gcc_s "")
foreach(node IN LISTS nodes)
  if(node MATCHES "^GLIBC_([0-9.]+)$")
    set(glibc ${CMAKE_MATCH_1})
  elseif(node MATCHES "^GCC_([0-9.]+)$")
    set(gcc_s ${CMAKE_MATCH_1})
  endif()
endforeach()
if(glibc STREQUAL "" OR runtime STREQUAL "0")
  message(FATAL_ERROR "debian-depends: ${MODULE} needs no glibc or no C++ runtime version: ${out}")
endif()
set(depends "libc6 (>= ${glibc})")
if(NOT gcc_s STREQUAL "")
  string(APPEND depends ", libgcc-s1 (>= ${gcc_s})")
endif()
string(APPEND depends ", libstdc++6 (>= ${runtime})")
if(SHLIBS)
  file(STRINGS "${SHLIBS}" shlibs)
  execute_process(COMMAND ${READELF} -d ${MODULE} OUTPUT_VARIABLE dynamic)
  string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" rows "${dynamic}")
  set(others "")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE ".*\\[([^]]+)\\]$" "\\1" lib "${row}")
    if(lib MATCHES "^lib(c|m|gcc_s|stdc\\+\\+)\\.so")
      continue()   # above
    endif()
    # "libglib-2.0 0 libglib2.0-0 (>= 2.74.0)" gives libglib-2.0.so.0
    set(found "")
    foreach(line IN LISTS shlibs)
      if(line MATCHES "^([^ ]+) ([^ ]+) (.+)$")
        if(lib STREQUAL "${CMAKE_MATCH_1}.so.${CMAKE_MATCH_2}")
          set(found "${CMAKE_MATCH_3}")
          break()
        endif()
      endif()
    endforeach()
    if(found STREQUAL "")
      message(FATAL_ERROR "debian-depends: no package in ${SHLIBS} provides ${lib}")
    endif()
    list(APPEND others "${found}")
  endforeach()
  list(REMOVE_DUPLICATES others)
  foreach(d IN LISTS others)
    string(APPEND depends ", ${d}")
  endforeach()
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${depends}")
