# Cross build for the TV: 32-bit ARM Linux, hard-float EABI (Debian armhf,
# ARMv7-A, Thumb-2, VFPv3-D16), with the Debian cross toolchain.
#
# Libraries and headers come only from the armhf sysroot made by
# tools/armhf-sysroot.sh and from the toolchain's own runtime root (Debian's:
# /usr/arm-linux-gnueabihf), never from the build machine. Programs (readelf,
# the test tools) are the build machine's. Test binaries run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

# The toolchain, from cache variables so that a firmware engineer can point
# the build at the TV's SDK (docs/firmware.md):
#   NPTV_ARMHF_TRIPLE          target triple (default arm-linux-gnueabihf)
#   NPTV_ARMHF_PREFIX          prefix of the GNU tools (default TRIPLE-), so
#                              the compilers are PREFIXgcc and PREFIXg++
#   CMAKE_C_COMPILER, CMAKE_CXX_COMPILER
#                              other compilers; for clang also
#                              CMAKE_{C,CXX}_COMPILER_TARGET=TRIPLE
#   NPTV_ARMHF_RUNTIME_ROOT    where the toolchain's C and C++ runtimes live
#                              (qemu's -L; default /usr/TRIPLE)
#   NPTV_ARMHF_SYSROOT         the other libraries (ICU, GoogleTest, WPE WebKit), below
#   NPTV_ARMHF_FLAGS           the target CPU (default: Debian armhf's)
set(NPTV_ARMHF_TRIPLE arm-linux-gnueabihf CACHE STRING "armhf target triple")
set(NPTV_ARMHF_PREFIX "${NPTV_ARMHF_TRIPLE}-" CACHE STRING "Prefix of the armhf GNU tools (a path may lead it)")
set(NPTV_ARMHF_RUNTIME_ROOT "/usr/${NPTV_ARMHF_TRIPLE}" CACHE PATH "Root of the toolchain's target C and C++ runtimes")
# An explicit ARMv7 target, the same as Debian armhf's defaults, so that the
# build does not drift if the toolchain's defaults ever do.
set(NPTV_ARMHF_FLAGS "-march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard -mthumb" CACHE STRING
    "Target CPU flags of every compilation")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NPTV_ARMHF_TRIPLE NPTV_ARMHF_PREFIX
     NPTV_ARMHF_RUNTIME_ROOT NPTV_ARMHF_FLAGS)
if(NOT CMAKE_C_COMPILER)
  set(CMAKE_C_COMPILER ${NPTV_ARMHF_PREFIX}gcc)
endif()
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER ${NPTV_ARMHF_PREFIX}g++)
endif()
# binutils of the target (readelf, objdump, strip), also for clang
foreach(tool READELF OBJDUMP STRIP AR RANLIB NM)
  string(TOLOWER ${tool} name)
  find_program(CMAKE_${tool} ${NPTV_ARMHF_PREFIX}${name})
endforeach()

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
# Debian's multiarch layout (tools/armhf-sysroot.sh), or a plain usr/lib.
if(EXISTS "${NPTV_ARMHF_SYSROOT}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}")
  set(_nptv_libdir "${NPTV_ARMHF_SYSROOT}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}")
elseif(EXISTS "${NPTV_ARMHF_SYSROOT}/usr/lib")
  set(_nptv_libdir "${NPTV_ARMHF_SYSROOT}/usr/lib")
else()
  message(FATAL_ERROR "No armhf sysroot at ${NPTV_ARMHF_SYSROOT}: run tools/armhf-sysroot.sh first")
endif()

set(CMAKE_FIND_ROOT_PATH "${NPTV_ARMHF_SYSROOT}" "${NPTV_ARMHF_RUNTIME_ROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_C_FLAGS_INIT "${NPTV_ARMHF_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${NPTV_ARMHF_FLAGS}")

# pkg-config (the WPE extension's libraries) reads the sysroot's .pc files
# only, and prefixes the paths they give with the sysroot.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${NPTV_ARMHF_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR} "${_nptv_libdir}/pkgconfig:${NPTV_ARMHF_SYSROOT}/usr/share/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

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
    ${NPTV_QEMU_ARM} -cpu cortex-a9 -L ${NPTV_ARMHF_RUNTIME_ROOT}
    -E LD_LIBRARY_PATH=${_nptv_libdir})
