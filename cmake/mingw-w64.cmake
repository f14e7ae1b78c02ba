# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads). The libraries come from
# the prefix scripts/windows/toolchain.sh makes; give it as MORV_WIN_PREFIX (or CMAKE_PREFIX_PATH).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR x86_64-w64-mingw32-ar CACHE FILEPATH "")
set(CMAKE_RANLIB x86_64-w64-mingw32-ranlib CACHE FILEPATH "")

if(NOT MORV_WIN_PREFIX AND DEFINED ENV{MORV_WIN_PREFIX})
  set(MORV_WIN_PREFIX "$ENV{MORV_WIN_PREFIX}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${MORV_WIN_PREFIX} ${MORV_WIN_PREFIX}/qt6-mingw)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must see only the Windows libraries of the prefix.
if(MORV_WIN_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} "${MORV_WIN_PREFIX}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()

# Cross-built tests run under Wine (ctest in the Windows build tree).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/windows/wine-run.sh)
