# The image-build recipes in packaging/ agree with the build they describe:
#   cmake -DSOURCE=repo -DVERSION=1.0.0 -DCACHE=build/x/CMakeCache.txt -P check_recipes.cmake
# the version, every -D option a cache variable of the tree, the packaged
# paths those of the install rules (prefix /usr), the WPE extension an option
# off by default, the licence (its checksum for Yocto), and every Buildroot
# option nptv.mk reads defined in Config.in.
cmake_minimum_required(VERSION 3.25)
foreach(var SOURCE VERSION CACHE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_recipes: -D${var}= is missing")
  endif()
endforeach()
set(failures "")
function(fail text)   # a function: the text is not expanded again
  set(failures "${failures}  ${text}\n" PARENT_SCOPE)
endfunction()

# The configured tree's cache variables.
file(STRINGS "${CACHE}" cache_lines REGEX "^[A-Za-z_][A-Za-z0-9_]*(:[A-Z]+)?=")
set(cache_names "")
foreach(line IN LISTS cache_lines)
  if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)(:[A-Z]+)?=(.*)$")
    list(APPEND cache_names ${CMAKE_MATCH_1})
    set(cache_${CMAKE_MATCH_1} "${CMAKE_MATCH_3}")
  endif()
endforeach()
foreach(var CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_BINDIR CMAKE_INSTALL_DATAROOTDIR NPTV_PLUGIN_DIR
            NPTV_WPE_EXTENSION_DIR)
  if(NOT DEFINED cache_${var})
    message(FATAL_ERROR "check_recipes: ${CACHE} has no ${var}")
  endif()
endforeach()
set(libdir /usr/${cache_CMAKE_INSTALL_LIBDIR})
set(bindir /usr/${cache_CMAKE_INSTALL_BINDIR})
# CMAKE_INSTALL_DATADIR is cached empty when it is the DATAROOTDIR.
set(datadir "${cache_CMAKE_INSTALL_DATADIR}")
if(datadir STREQUAL "")
  set(datadir "${cache_CMAKE_INSTALL_DATAROOTDIR}")
endif()
set(docdir /usr/${datadir}/doc/nptv)
set(plugin_dir /usr/${cache_NPTV_PLUGIN_DIR})
# The plug-in folder in the recipes' terms: ${libdir}/... for Yocto.
string(REGEX REPLACE "^${cache_CMAKE_INSTALL_LIBDIR}/" "\${libdir}/" yocto_plugin_dir
       "${cache_NPTV_PLUGIN_DIR}")
string(REGEX REPLACE "^${cache_CMAKE_INSTALL_LIBDIR}/" "\${libdir}/" yocto_wpe_dir
       "${cache_NPTV_WPE_EXTENSION_DIR}")
set(wpe_dir /usr/${cache_NPTV_WPE_EXTENSION_DIR})

set(yocto ${SOURCE}/packaging/yocto/meta-nptv)
set(buildroot ${SOURCE}/packaging/buildroot/nptv)
file(GLOB recipes ${yocto}/recipes-*/nptv/nptv_*.bb)
list(LENGTH recipes n)
if(NOT n EQUAL 1)
  message(FATAL_ERROR "check_recipes: expected one recipe nptv_VERSION.bb in ${yocto}, found '${recipes}'")
endif()
set(bb ${recipes})
set(mk ${buildroot}/nptv.mk)
set(config_in ${buildroot}/Config.in)
file(MD5 ${SOURCE}/LICENSE license_md5)
get_filename_component(bb_name ${bb} NAME)

# What each file must say: file | regular expression | the text its first
# group must be ("" when the expression alone must match).
set(table
  "${bb}|^|${bb_name}"   # placeholder row replaced below: the recipe's name
  "${bb}|\nPV = \"([^\"]*)\"|${VERSION}"
  "${bb}|\ninherit cmake\n|"
  "${bb}|\nLICENSE = \"([^\"]*)\"|MIT"
  "${bb}|LIC_FILES_CHKSUM = \"file://LICENSE[;]md5=([0-9a-f]+)\"|${license_md5}"
  "${bb}|\nNPTV_PLUGIN_DIR \\?= \"([^\"]*)\"|${yocto_plugin_dir}"
  "${bb}|\nNPTV_CXX11_ABI \\?= \"([^\"]*)\"|ON"
  "${bb}|-DNPTV_PLUGIN_DIR=([^ \\\\]*)|\${NPTV_PLUGIN_DIR}"
  "${bb}|-DNPTV_CXX11_ABI=([^ \\\\]*)|\${NPTV_CXX11_ABI}"
  "${bb}|-DNPTV_INSTALL_SIMULATOR=([^ \\\\]*)|OFF"
  "${bb}|-DNPTV_TESTS=([^ \\\\]*)|OFF"
  "${bb}|\nFILES:\\\${PN} = \"([^\"]*)\"|\${NPTV_PLUGIN_DIR}/libnptv.so"
  "${bb}|\nFILES:\\\${PN}-check = \"([^\"]*)\"|\${bindir}/check-framework"
  "${bb}|-DNPTV_INSTALL_RECORDER=([^ \\\\]*)|\${NPTV_RECORDER}"
  "${bb}|\nFILES:\\\${PN}-recorder = \"([^\"]*)\"|\${NPTV_RECORDER_DIR}/libQuv.so"
  "${mk}|-DNPTV_INSTALL_RECORDER=([^ \\\\\n]*)|ON"
  "${bb}|\nNPTV_WPE \\?= \"([^\"]*)\"|OFF"
  "${bb}|-DNPTV_WPE=([^ \\\\]*)|\${NPTV_WPE}"
  "${bb}|-DNPTV_WEBKIT=([^ \\\\]*)|OFF"
  "${bb}|\nNPTV_WPE_EXTENSION_DIR \\?= \"([^\"]*)\"|${yocto_wpe_dir}"
  "${bb}|-DNPTV_WPE_EXTENSION_DIR=([^ \\\\]*)|\${NPTV_WPE_EXTENSION_DIR}"
  "${bb}|\nFILES:\\\${PN}-wpe = \"([^\"]*)\"|\${NPTV_WPE_EXTENSION_DIR}/libnptv-wpe.so"
  "${mk}|\nifeq \\(\\$\\(BR2_PACKAGE_NPTV_WPE\\),y\\)\n[^\n]*\n[^\n]*-DNPTV_WPE=([A-Z]+)|ON"
  "${mk}|\nelse\n[^\n]*-DNPTV_WEBKIT=OFF -DNPTV_WPE=([A-Z]+)\n|OFF"
  "${mk}|-DNPTV_WPE_EXTENSION_DIR=([^ \\\\\n]*)|${wpe_dir}"
  "${mk}|\nNPTV_VERSION = ([^\n]*)|${VERSION}"
  "${mk}|\nNPTV_LICENSE = ([^\n]*)|MIT"
  "${mk}|\nNPTV_LICENSE_FILES = ([^\n]*)|LICENSE"
  "${mk}|\\$\\(eval \\$\\(cmake-package\\)\\)|"
  "${mk}|-DNPTV_INSTALL_SIMULATOR=([^ \\\\\n]*)|OFF"
  "${mk}|-DNPTV_TESTS=([^ \\\\\n]*)|OFF"
  "${mk}|-DNPTV_PLUGIN_DIR=([^\n]*[^ \\\\\n])( \\\\)?\n|$(call qstrip,$(BR2_PACKAGE_NPTV_PLUGIN_DIR))"
  "${mk}|rm -rf \\$\\(TARGET_DIR\\)([^\n]*)|${docdir}"
  "${mk}|rm -f \\$\\(TARGET_DIR\\)([^\n)]*)|${bindir}/check-framework"
  "${config_in}|config BR2_PACKAGE_NPTV_PLUGIN_DIR\n[^\n]*\n\tdefault \"([^\"]*)\"|${plugin_dir}"
)
list(REMOVE_AT table 0)
if(NOT bb_name STREQUAL "nptv_${VERSION}.bb")
  fail("the Yocto recipe is ${bb_name}, not nptv_${VERSION}.bb")
endif()
# Yocto's ${bindir} is /usr/bin: the install rules must agree.
if(NOT bindir STREQUAL "/usr/bin")
  fail("the install rules put programs in ${bindir}, the Yocto recipe packages \${bindir} = /usr/bin")
endif()

foreach(row IN LISTS table)
  string(REPLACE "|" ";" row "${row}")
  set(want "")
  list(POP_FRONT row file regex want)
  file(READ ${file} text)
  file(RELATIVE_PATH shown ${SOURCE} ${file})
  if(NOT text MATCHES "${regex}")
    fail("${shown}: nothing matches '${regex}'")
  elseif(NOT want STREQUAL "" AND NOT CMAKE_MATCH_1 STREQUAL want)
    string(STRIP "${CMAKE_MATCH_0}" found)
    fail("${shown}: '${found}' gives '${CMAKE_MATCH_1}', the build says '${want}'")
  endif()
endforeach()

# Every -D option of both recipes exists in the build.
foreach(file ${bb} ${mk})
  file(READ ${file} text)
  string(REGEX MATCHALL "-D[A-Za-z_][A-Za-z0-9_]*=" options "${text}")
  list(REMOVE_DUPLICATES options)
  file(RELATIVE_PATH shown ${SOURCE} ${file})
  foreach(o IN LISTS options)
    string(REGEX REPLACE "^-D(.*)=$" "\\1" name "${o}")
    if(NOT name IN_LIST cache_names)
      fail("${shown}: passes -D${name}, which the build does not have")
    endif()
  endforeach()
endforeach()

# Every Buildroot option nptv.mk reads is defined in Config.in.
file(READ ${mk} text)
file(READ ${config_in} config_text)
string(REGEX MATCHALL "BR2_PACKAGE_NPTV[A-Z0-9_]*" used "${text}")
list(REMOVE_DUPLICATES used)
foreach(name IN LISTS used)
  if(NOT config_text MATCHES "\nconfig ${name}\n")
    fail("packaging/buildroot/nptv/nptv.mk reads ${name}, which Config.in does not define")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "the recipes disagree with the build:\n${failures}")
endif()
list(LENGTH table rows)
message(STATUS "recipes agree with the build (version ${VERSION}, plug-in folder ${plugin_dir}, ${rows} facts)")
