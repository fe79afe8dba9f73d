# The part shared by the Linux cross tool chain files (aarch64-linux-gnu.cmake,
# arm-linux-gnueabihf.cmake), which set PAGER_CROSS_TRIPLE (the GNU triple),
# PAGER_CROSS_PROCESSOR, PAGER_CROSS_QEMU (the qemu-user program for the
# target) and PAGER_DEBIAN_ARCH (the packages' architecture) first.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${PAGER_CROSS_PROCESSOR})

find_program(CMAKE_CXX_COMPILER NAMES ${PAGER_CROSS_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${PAGER_CROSS_TRIPLE}-gcc)

# Debian's cross packages keep the target's libraries and headers here.
set(PAGER_CROSS_SYSROOT /usr/${PAGER_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${PAGER_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The tests (and GoogleTest's test listing) run under qemu-user, which loads
# the target's dynamic linker and libraries from the sysroot.
find_program(PAGER_QEMU NAMES ${PAGER_CROSS_QEMU} NO_CMAKE_FIND_ROOT_PATH)
if(PAGER_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PAGER_QEMU} -L ${PAGER_CROSS_SYSROOT})
endif()
