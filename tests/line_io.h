// Byte-level reading and writing on a serial line's far end, for tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

// Opens `path` as a program opens a serial port: raw, no controlling tty.
inline int open_port(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// Reads one byte, waiting up to `ms`; -1 when none came.
inline int read_byte(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    std::uint8_t byte = 0;
    if (poll(&p, 1, ms) == 1 && read(fd, &byte, 1) == 1) {
        return byte;
    }
    return -1;
}

inline void send(int fd, std::uint8_t byte) {
    ASSERT_EQ(write(fd, &byte, 1), 1);
}
