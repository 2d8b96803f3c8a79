# Install rules and the Debian packages (CPack).
#
#   cmake --install build/armhf-os --prefix /usr --strip
#
# gives the tree a TV image takes: the module in NPTV_PLUGIN_DIR,
# check-framework in bin, the documents in share/doc/nptv. Nothing of the
# tests; the stand-in libQuv.so and tvsim only with NPTV_INSTALL_SIMULATOR=ON
# (component "simulator", package nptv-simulator). With NPTV_WPE the WPE
# web-process extension in a folder of its own, NPTV_WPE_EXTENSION_DIR
# (component "wpe", package nptv-wpe).
#
#   cpack -G DEB --config build/native/CPackConfig.cmake
#
# makes nptv_VERSION_ARCH.deb (and nptv-simulator_VERSION_ARCH.deb,
# nptv-wpe_VERSION_ARCH.deb).
include(GNUInstallDirs)

set(NPTV_PLUGIN_DIR "${CMAKE_INSTALL_LIBDIR}/browser-plugins" CACHE STRING
    "Folder of the installed module, relative to the prefix (or absolute)")
set(NPTV_WPE_EXTENSION_DIR "${CMAKE_INSTALL_LIBDIR}/nptv/wpe" CACHE STRING
    "Folder of the installed WPE extension, relative to the prefix (or absolute); nothing else goes there")
option(NPTV_INSTALL_SIMULATOR "Install the stand-in libQuv.so and tvsim (component simulator)" OFF)

set(NPTV_MAINTAINER "nptv developers <nptv@nptv.invalid>")
set(nptv_docdir ${CMAKE_INSTALL_DATADIR}/doc)
set(nptv_pkgdoc ${CMAKE_CURRENT_BINARY_DIR}/pkgdoc)
set(nptv_readable OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(nptv_runnable ${nptv_readable} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)

# The files read here: a change to one configures again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
             ${PROJECT_SOURCE_DIR}/tools/check-framework)

# ---- The release's notes in the forms Debian reads ----------------------------
# copyright: the licence in Debian's machine-readable format.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE nptv_license)
string(REGEX REPLACE "\n+$" "" nptv_license "${nptv_license}")
string(REGEX REPLACE "^MIT License\n\n" "" nptv_license "${nptv_license}")
string(REPLACE "\n\n" "\n.\n" nptv_license "${nptv_license}")
string(REPLACE "\n" "\n " nptv_license " ${nptv_license}")
file(WRITE ${nptv_pkgdoc}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: nptv
Upstream-Contact: ${NPTV_MAINTAINER}

Files: *
Copyright: 2026 nptv developers
License: Expat
${nptv_license}
")

# changelog.gz: the newest entry of CHANGELOG.md, which must name this version.
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md nptv_changes)
set(nptv_entry "")
set(nptv_items "")
foreach(line IN LISTS nptv_changes)
  if(line MATCHES "^## ")
    if(nptv_entry)
      break()
    endif()
    set(nptv_entry "${line}")
  elseif(nptv_entry AND line MATCHES "^- (.*)")
    string(APPEND nptv_items "  * ${CMAKE_MATCH_1}\n")
  elseif(nptv_entry AND line MATCHES "^  +(.*)")
    string(APPEND nptv_items "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
if(NOT nptv_entry MATCHES "^## ([0-9.]+) \\(([0-9]+-[0-9]+-[0-9]+)\\)$"
   OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "CHANGELOG.md: the newest entry '${nptv_entry}' must be "
                      "'## ${PROJECT_VERSION} (YYYY-MM-DD)', the version of project()")
endif()
execute_process(COMMAND date -u -R -d "${CMAKE_MATCH_2} 12:00:00"
                OUTPUT_VARIABLE nptv_release_date OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
file(WRITE ${nptv_pkgdoc}/changelog
"nptv (${PROJECT_VERSION}) stable; urgency=medium

${nptv_items}
 -- ${NPTV_MAINTAINER}  ${nptv_release_date}
")
find_program(GZIP_EXECUTABLE gzip REQUIRED)
execute_process(COMMAND ${GZIP_EXECUTABLE} -9 -n -f -k ${nptv_pkgdoc}/changelog COMMAND_ERROR_IS_FATAL ANY)

# ---- Component module: what the TV gets ---------------------------------------
install(TARGETS nptv LIBRARY DESTINATION ${NPTV_PLUGIN_DIR} COMPONENT module
        PERMISSIONS ${nptv_readable})
# check-framework, told where the installed module is (relative to bin/..).
file(READ ${PROJECT_SOURCE_DIR}/tools/check-framework nptv_check)
string(REPLACE "\nINSTALLED_MODULE = None\n" "\nINSTALLED_MODULE = \"${NPTV_PLUGIN_DIR}/libnptv.so\"\n"
       nptv_check "${nptv_check}")
if(NOT nptv_check MATCHES "INSTALLED_MODULE = \"")
  message(FATAL_ERROR "tools/check-framework has no line 'INSTALLED_MODULE = None'")
endif()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/installed/check-framework "${nptv_check}")
install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/installed/check-framework
        DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT module)
install(FILES README.md CHANGELOG.md LICENSE docs/firmware.md docs/reference.md
              ${nptv_pkgdoc}/copyright ${nptv_pkgdoc}/changelog.gz
        DESTINATION ${nptv_docdir}/nptv COMPONENT module PERMISSIONS ${nptv_readable})

# ---- Component simulator: the stand-in for developers' machines ---------------
if(NPTV_INSTALL_SIMULATOR)
  install(TARGETS Quv LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT simulator
          PERMISSIONS ${nptv_readable})
  if(TARGET tvsim)
    install(TARGETS tvsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulator
            PERMISSIONS ${nptv_runnable})
  endif()
  install(FILES docs/simulator.md ${nptv_pkgdoc}/copyright ${nptv_pkgdoc}/changelog.gz
          DESTINATION ${nptv_docdir}/nptv-simulator COMPONENT simulator
          PERMISSIONS ${nptv_readable})
endif()

# ---- Component recorder: the libQuv.so that records, for TV images ------------
# In a folder of its own, so that it stands in front of the maker's
# libQuv.so only for a browser started with LD_LIBRARY_PATH (or LD_PRELOAD)
# naming it (docs/recorder.md).
option(NPTV_INSTALL_RECORDER "Install the recorder libQuv.so (component recorder)" ON)
set(NPTV_RECORDER_DIR "${CMAKE_INSTALL_LIBDIR}/nptv-recorder" CACHE STRING
    "Folder of the installed recorder libQuv.so, relative to the prefix (or absolute)")
if(NPTV_INSTALL_RECORDER)
  install(TARGETS nptv_recorder LIBRARY DESTINATION ${NPTV_RECORDER_DIR} COMPONENT recorder
          PERMISSIONS ${nptv_readable})
  install(FILES docs/recorder.md ${nptv_pkgdoc}/copyright ${nptv_pkgdoc}/changelog.gz
          DESTINATION ${nptv_docdir}/nptv-recorder COMPONENT recorder PERMISSIONS ${nptv_readable})
endif()

# ---- Component wpe: the WPE WebKit extension (webkit/) -------------------------
# The extension itself is installed by webkit/CMakeLists.txt, where it is made.
if(NPTV_WPE)
  install(FILES docs/wpe-tv.md docs/webkit-host.md ${nptv_pkgdoc}/copyright ${nptv_pkgdoc}/changelog.gz
          DESTINATION ${nptv_docdir}/nptv-wpe COMPONENT wpe PERMISSIONS ${nptv_readable})
endif()

# ---- Debian packages ----------------------------------------------------------
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm" AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(nptv_deb_arch armhf)   # the target checks hold the module to hard-float
  else()
    set(nptv_deb_arch ${CMAKE_SYSTEM_PROCESSOR})
  endif()
else()
  find_program(DPKG_EXECUTABLE dpkg)
  if(DPKG_EXECUTABLE)
    execute_process(COMMAND ${DPKG_EXECUTABLE} --print-architecture
                    OUTPUT_VARIABLE nptv_deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE)
  else()
    set(nptv_deb_arch ${CMAKE_SYSTEM_PROCESSOR})
  endif()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nptv)
set(CPACK_PACKAGE_VENDOR "nptv developers")
set(CPACK_PACKAGE_CONTACT "${NPTV_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL module)
if(NPTV_INSTALL_SIMULATOR)
  list(APPEND CPACK_COMPONENTS_ALL simulator)
endif()
if(NPTV_INSTALL_RECORDER)
  list(APPEND CPACK_COMPONENTS_ALL recorder)
endif()
if(NPTV_WPE)
  list(APPEND CPACK_COMPONENTS_ALL wpe)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${nptv_deb_arch})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${NPTV_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_MODULE_PACKAGE_NAME nptv)
set(CPACK_DEBIAN_MODULE_DESCRIPTION "TV browser plug-in module (NPAPI) for the TV's web apps
libnptv.so gives a web page that embeds the MIME type application/tv a TV
object with 49 methods (programme guide, clock and time zone, country and
language, picture in picture, product information, power, events) and
passes each call to the TV's service framework libQuv.so, which the TV maker
provides. Also check-framework, which tells whether a maker's libQuv.so can
serve the module (it needs Python 3 and binutils).")
# check-framework is a Python program that reads ELF files with binutils.
set(nptv_tool_depends "python3, binutils")
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_NAME nptv-simulator)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SIMULATOR_DESCRIPTION "simulated TV behind the nptv browser plug-in, for development
A stand-in for the TV's service framework libQuv.so that simulates a TV
(programme guide, clock, settings, events), so that the nptv plug-in module
runs in a desktop browser, and tvsim, which drives the simulated TV of a
running browser through its control socket. Not for TV images.")
set(CPACK_DEBIAN_WPE_PACKAGE_NAME nptv-wpe)
set(CPACK_DEBIAN_WPE_DESCRIPTION "nptv browser plug-in module in WPE WebKit (web-process extension)
libnptv-wpe.so is a WPE WebKit web-process extension that hosts the nptv
module libnptv.so inside WPE's web process, so that a web page of an allowed
origin that embeds the MIME type application/tv gets the TV object as in the
TV's NPAPI browser. The browser program names its folder as the web
extensions folder (cog: --web-extensions-dir).")

set(CPACK_DEBIAN_RECORDER_PACKAGE_NAME nptv-recorder)
set(CPACK_DEBIAN_RECORDER_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_RECORDER_DESCRIPTION "recorder of the nptv plug-in's conversation with the TV's framework
A libQuv.so that stands in front of the TV maker's libQuv.so: it forwards
every operation of the nptv plug-in module to the maker's library unchanged
and writes each one (commands, replies, events, log) to a JSON Lines trace,
which tvsim replays on a simulated TV. Installed in a folder of its own; a
browser uses it only when started with LD_LIBRARY_PATH naming that folder.")

# Depends: what the built files need, measured when CPack runs. For a native
# build dpkg-shlibdeps reads it from the machine's own libraries (libQuv.so,
# which no package provides, is found in the build tree and left out). For a
# cross build the machine has no symbol information of the target's
# libraries: the module's depends are made from the runtime floor measured on
# it (packaging/debian-depends.cmake). CPack's own dpkg-shlibdeps step is not
# used: it would also give the module, which is no library of the linker's
# path, ldconfig calls.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
if(NOT CMAKE_READELF)
  find_program(CMAKE_READELF NAMES ${CMAKE_LIBRARY_ARCHITECTURE}-readelf readelf REQUIRED)
endif()
set(nptv_simulator_files "$<TARGET_FILE:Quv>")
set(nptv_wpe_file ${CMAKE_CURRENT_BINARY_DIR}/webkit/wpe/libnptv-wpe.so)
if(TARGET tvsim)
  string(APPEND nptv_simulator_files " $<TARGET_FILE:tvsim>")
endif()
if(CMAKE_CROSSCOMPILING)
  set(nptv_depends_in ${PROJECT_SOURCE_DIR}/packaging/cpack-depends-cross.cmake.in)
else()
  set(nptv_depends_in ${PROJECT_SOURCE_DIR}/packaging/cpack-depends-native.cmake.in)
endif()
configure_file(${nptv_depends_in} ${CMAKE_CURRENT_BINARY_DIR}/CPackDepends.cmake.in @ONLY)
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/CPackDepends.cmake
     INPUT ${CMAKE_CURRENT_BINARY_DIR}/CPackDepends.cmake.in)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/CPackDepends.cmake)
# libQuv.so goes to the linker's path: the loader's cache is updated by the
# trigger dpkg provides for that.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/pkgctl/simulator/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/pkgctl/simulator/triggers)

include(CPack)
