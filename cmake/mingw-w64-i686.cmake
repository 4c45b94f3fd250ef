# Cross-build for 32-bit Windows (Windows 7 and later).
set(TD_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# Nothing newer than Windows 7 is called.
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601")
