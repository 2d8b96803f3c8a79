# Cross build for the TV: 32-bit ARM Linux, hard-float EABI (Debian armhf,
# ARMv7-A, Thumb-2, VFPv3-D16), with the Debian cross toolchain.
#
# Libraries and headers come only from the armhf sysroot made by
# tools/armhf-sysroot.sh and from the toolchain's own /usr/arm-linux-gnueabihf,
# never from the build machine. Programs (readelf, the test tools) are the
# build machine's. Test binaries run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(_nptv_triplet arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${_nptv_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${_nptv_triplet}-g++)

# The sysroot: a cache variable so that a developer can point elsewhere, and
# passed on to the compiler checks CMake runs in their own projects.
if(NOT NPTV_ARMHF_SYSROOT)
  if(DEFINED ENV{NPTV_ARMHF_SYSROOT})
    set(NPTV_ARMHF_SYSROOT "$ENV{NPTV_ARMHF_SYSROOT}")
  else()
    get_filename_component(NPTV_ARMHF_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/armhf-sysroot" ABSOLUTE)
  endif()
endif()
set(NPTV_ARMHF_SYSROOT "${NPTV_ARMHF_SYSROOT}" CACHE PATH "armhf sysroot made by tools/armhf-sysroot.sh")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NPTV_ARMHF_SYSROOT)
if(NOT EXISTS "${NPTV_ARMHF_SYSROOT}/usr/lib/${_nptv_triplet}")
  message(FATAL_ERROR "No armhf sysroot at ${NPTV_ARMHF_SYSROOT}: run tools/armhf-sysroot.sh first")
endif()

set(_nptv_libdir "${NPTV_ARMHF_SYSROOT}/usr/lib/${_nptv_triplet}")

set(CMAKE_FIND_ROOT_PATH "${NPTV_ARMHF_SYSROOT}" /usr/${_nptv_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# An explicit ARMv7 target, the same as Debian armhf's defaults, so that the
# build does not drift if the toolchain's defaults ever do.
set(CMAKE_C_FLAGS_INIT "-march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard -mthumb")
set(CMAKE_CXX_FLAGS_INIT "-march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard -mthumb")

# libicuuc needs libicudata at link time; it is found through the sysroot.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_nptv_libdir}")
endforeach()

# binfmt is not registered on the build machines: every armhf program runs
# through qemu, on a real ARMv7 core model, with the toolchain's runtime as
# the root of the loader's search and the sysroot's libraries on its path.
find_program(NPTV_QEMU_ARM qemu-arm)
if(NOT NPTV_QEMU_ARM)
  set(NPTV_QEMU_ARM qemu-arm)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${NPTV_QEMU_ARM} -cpu cortex-a9 -L /usr/${_nptv_triplet}
    -E LD_LIBRARY_PATH=${_nptv_libdir})
