# Cross-build for Windows with Debian's MinGW-w64 (posix threads), for the
# triplet that mingw-w64-x86_64.cmake or mingw-w64-i686.cmake sets.
set(CMAKE_SYSTEM_NAME Windows)
if(TD_MINGW_TRIPLET MATCHES "^i686")
  set(CMAKE_SYSTEM_PROCESSOR x86)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()
set(CMAKE_C_COMPILER ${TD_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TD_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TD_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TD_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# No runtime DLLs to ship: the .exe runs on a bare Windows machine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
