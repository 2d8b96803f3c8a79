# GoogleTest for the unit suites, in the std::string ABI of the build.
#
# GoogleTest's library takes and returns std::string, so a prebuilt libgtest
# (Debian's, or the armhf sysroot's) only links with suites built in the ABI
# it was built in: the default one. With NPTV_CXX11_ABI=OFF, or when
# NPTV_GTEST_SOURCE_DIR is set, it is compiled here from Debian's sources
# (package googletest, /usr/src/googletest) with the flags of this build.
# Either way the suites use GTest::gtest and GTest::gtest_main.
if(NOT NPTV_CXX11_ABI AND NOT NPTV_GTEST_SOURCE_DIR)
  set(NPTV_GTEST_SOURCE_DIR /usr/src/googletest)
endif()
set(NPTV_GTEST_SOURCE_DIR "${NPTV_GTEST_SOURCE_DIR}" CACHE PATH
    "GoogleTest sources to build with this build's flags (empty: the prebuilt library)")

if(NOT NPTV_GTEST_SOURCE_DIR)
  find_package(GTest REQUIRED)
  return()
endif()

if(NOT EXISTS "${NPTV_GTEST_SOURCE_DIR}/googletest/CMakeLists.txt")
  message(FATAL_ERROR "No GoogleTest sources at ${NPTV_GTEST_SOURCE_DIR} (Debian package googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory("${NPTV_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
# GoogleTest's own sources are not ours to warn about.
foreach(t gtest gtest_main)
  target_compile_options(${t} PRIVATE -w)
endforeach()
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
message(STATUS "GoogleTest: built from ${NPTV_GTEST_SOURCE_DIR}")
