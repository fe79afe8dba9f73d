# Cross build for 64-bit Windows with Debian's mingw-w64 tool chain:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The programs link statically (libgcc, libstdc++ and winpthread included), so
# each .exe runs on a bare Windows, or under Wine, with no extra DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PAGER_MINGW_TRIPLE x86_64-w64-mingw32)

# The -posix variant is needed: only its libstdc++ has a monotonic
# std::chrono::steady_clock (the win32 variant of gcc 12 falls back to the
# wall clock, which jumps) and std::thread. winpthread is linked statically.
find_program(CMAKE_CXX_COMPILER NAMES ${PAGER_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${PAGER_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${PAGER_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PAGER_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests of the cross build run under Wine when it is installed.
find_program(PAGER_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(PAGER_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PAGER_WINE})
endif()
