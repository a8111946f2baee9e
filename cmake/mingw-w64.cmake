# Cross build of the Windows executable with MinGW-w64, linked statically; tests
# run under Wine. VH_MINGW_ARCH picks the width: x86_64 (the default) or i686, the
# 32-bit build for Windows XP and later. The 64-bit build uses the POSIX-thread
# variant, which GoogleTest needs; the 32-bit one the Win32-thread variant, whose
# runtime imports nothing that XP lacks (the POSIX one's needs GetTickCount64, of
# Vista). So the unit tests run in the 64-bit build, and the 32-bit executable is
# tried whole by the end-to-end suites.
if(NOT VH_MINGW_ARCH)
  set(VH_MINGW_ARCH x86_64)
endif()
if(VH_MINGW_ARCH STREQUAL "i686")
  set(vh_threads win32)
else()
  set(vh_threads posix)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VH_MINGW_ARCH})
set(CMAKE_C_COMPILER ${VH_MINGW_ARCH}-w64-mingw32-gcc-${vh_threads})
set(CMAKE_CXX_COMPILER ${VH_MINGW_ARCH}-w64-mingw32-g++-${vh_threads})
set(CMAKE_RC_COMPILER ${VH_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VH_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
