# 32-bit ARM (hard float) with Debian's cross compiler
# (g++-arm-linux-gnueabihf). The compiler brings its own C and C++ libraries;
# the other libraries (json-c, webrtc-audio-processing, GoogleTest)
# come from the armhf sysroot that scripts/make-armhf-sysroot.sh makes from
# Debian's armhf packages. Programs run on the host under qemu-user, with
# the sysroot as their root for the dynamic loader and libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# GCC notes every std:: argument whose passing changed in GCC 7.1; all of it is
# built by this one compiler.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

# try_compile projects read this file again and see only what is listed here.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZQ_ARMHF_SYSROOT)
if(NOT ZQ_ARMHF_SYSROOT)
  get_filename_component(ZQ_ARMHF_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/sysroot-armhf" ABSOLUTE)
endif()
set(ZQ_ARMHF_SYSROOT "${ZQ_ARMHF_SYSROOT}" CACHE PATH "armhf sysroot made from Debian's armhf packages")

if(NOT EXISTS "${ZQ_ARMHF_SYSROOT}/.zq-sysroot-packages")
  execute_process(
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/../scripts/make-armhf-sysroot.sh" "${ZQ_ARMHF_SYSROOT}"
    RESULT_VARIABLE sysroot_result)
  if(NOT sysroot_result EQUAL 0)
    message(FATAL_ERROR "the armhf sysroot could not be made (scripts/make-armhf-sysroot.sh)")
  endif()
endif()

# Libraries, headers and packages from the sysroot only. An application built
# against an armhf SDK installed elsewhere (its CMAKE_PREFIX_PATH) sets the
# modes to BOTH on its command line.
set(CMAKE_FIND_ROOT_PATH "${ZQ_ARMHF_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
foreach(kind LIBRARY INCLUDE PACKAGE)
  if(NOT DEFINED CMAKE_FIND_ROOT_PATH_MODE_${kind})
    set(CMAKE_FIND_ROOT_PATH_MODE_${kind} ONLY)
  endif()
endforeach()

# pkg-config answers from the sysroot's .pc files (whose paths the sysroot
# script made to point into the sysroot), never from the machine's.
set(ENV{PKG_CONFIG_DIR} "")
set(ENV{PKG_CONFIG_LIBDIR}
    "${ZQ_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${ZQ_ARMHF_SYSROOT}/usr/share/pkgconfig")

# The sysroot's shared libraries name their own dependencies (libstdc++, ...).
set(_zq_rpath_link
    "-Wl,-rpath-link,${ZQ_ARMHF_SYSROOT}/lib/arm-linux-gnueabihf:${ZQ_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_zq_rpath_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_zq_rpath_link}")

# Tests, test discovery and the programs tests start run under qemu-user.
find_program(ZQ_QEMU_ARM qemu-arm)
if(ZQ_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${ZQ_QEMU_ARM};-L;${ZQ_ARMHF_SYSROOT}")
endif()
