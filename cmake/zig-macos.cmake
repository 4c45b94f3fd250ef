# Cross-build for macOS with zig's C++ compiler, which brings the macOS
# headers and its own libc++: a build check, no Mac needed.
#   cmake -S . -B build-macos -DCMAKE_TOOLCHAIN_FILE=cmake/zig-macos.cmake \
#         -DTD_ZIG=/path/to/zig -DTD_MACOS_ARCH=aarch64    (or x86_64)
set(CMAKE_SYSTEM_NAME Darwin)
set(TD_MACOS_ARCH aarch64 CACHE STRING "aarch64 or x86_64")
set(TD_ZIG zig CACHE FILEPATH "the zig program")
set(CMAKE_SYSTEM_PROCESSOR ${TD_MACOS_ARCH})
# Read again by every try_compile, which sees only these of the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TD_ZIG TD_MACOS_ARCH)

# Each tool is zig with a sub-command, through a small script, since CMake
# wants one program for each. The compiler drops the linker's -v, which
# CMake's compiler check passes and zig refuses.
set(td_zig_tools ${CMAKE_BINARY_DIR}/zig-tools)
file(MAKE_DIRECTORY ${td_zig_tools})
foreach(tool cc c++ ar ranlib)
  set(td_target "")
  if(tool MATCHES "^c")
    set(td_target "-target ${TD_MACOS_ARCH}-macos")
  endif()
  file(WRITE ${td_zig_tools}/${tool}
       "#!/bin/sh\nfor a; do shift; [ \"$a\" = -Wl,-v ] || set -- \"$@\" \"$a\"; done\n"
       "exec '${TD_ZIG}' ${tool} ${td_target} \"$@\"\n")
  file(CHMOD ${td_zig_tools}/${tool} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endforeach()
set(CMAKE_C_COMPILER ${td_zig_tools}/cc)
set(CMAKE_CXX_COMPILER ${td_zig_tools}/c++)
set(CMAKE_AR ${td_zig_tools}/ar CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB ${td_zig_tools}/ranlib CACHE FILEPATH "" FORCE)
# zig has its own SDK: no xcrun, no sysroot, no Mac frameworks to look for.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "" FORCE)
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "" FORCE)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
