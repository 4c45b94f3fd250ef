# Cross-build for Linux on another processor with Debian's cross compilers:
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-cross.cmake -DTD_TRIPLET=aarch64-linux-gnu
#   (armhf: -DTD_TRIPLET=arm-linux-gnueabihf; Debian: g++-aarch64-linux-gnu, g++-arm-linux-gnueabihf)
# The programs run here under qemu-user: qemu-aarch64 -L /usr/aarch64-linux-gnu build-arm64/tarnwickdialer
set(TD_TRIPLET aarch64-linux-gnu CACHE STRING "the GNU triplet of the target")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TD_TRIPLET)
set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${TD_TRIPLET})
set(CMAKE_C_COMPILER ${TD_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TD_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${TD_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# GCC notes, for armhf, a calling convention that changed in GCC 7.1;
# nothing here is linked with code built before it.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "arm")
  set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
endif()
