#include "simulator/pty_line.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace {

bool fail(PtyLine* pty, std::string* error, const std::string& what) {
    *error = what + ": " + std::strerror(errno);
    close_pty_line(pty);
    return false;
}

}  // namespace

bool open_pty_line(PtyLine* pty, PtyMode mode, std::string* error) {
    pty->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->master < 0) {
        return fail(pty, error, "posix_openpt");
    }
    if (grantpt(pty->master) != 0 || unlockpt(pty->master) != 0) {
        return fail(pty, error, "unlockpt");
    }
    char name[128];
    if (ptsname_r(pty->master, name, sizeof name) != 0) {
        return fail(pty, error, "ptsname");
    }
    pty->slave_path = name;
    pty->slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->slave < 0) {
        return fail(pty, error, name);
    }
    if (mode == PtyMode::kTerminal) {
        return true;
    }
    termios tio{};
    if (tcgetattr(pty->slave, &tio) != 0) {
        return fail(pty, error, "tcgetattr");
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(pty->slave, TCSANOW, &tio) != 0) {
        return fail(pty, error, "tcsetattr");
    }
    return true;
}

void close_pty_line(PtyLine* pty) {
    for (int* fd : {&pty->slave, &pty->master}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}
