# Cross build for 32-bit ARM Linux with hardware floating point (Debian armhf:
# Raspberry Pi OS 32-bit, a Pi 2 or later) with Debian's
# g++-arm-linux-gnueabihf:
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
# The tests run under qemu-user when qemu-user-static is installed.
set(PAGER_CROSS_TRIPLE arm-linux-gnueabihf)
set(PAGER_CROSS_PROCESSOR armv7l)
set(PAGER_CROSS_QEMU qemu-arm-static)
set(PAGER_DEBIAN_ARCH armhf)
# g++ notes on every std::vector of small records that their passing changed
# in GCC 7.1; everything here is built by one compiler, so that is no concern.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
