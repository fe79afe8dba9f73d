# Cross build for 64-bit ARM Linux (Debian arm64: a Raspberry Pi 3 or later
# on a 64-bit system, ARM laptops) with Debian's g++-aarch64-linux-gnu:
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# The tests run under qemu-user when qemu-user-static is installed.
set(PAGER_CROSS_TRIPLE aarch64-linux-gnu)
set(PAGER_CROSS_PROCESSOR aarch64)
set(PAGER_CROSS_QEMU qemu-aarch64-static)
set(PAGER_DEBIAN_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
