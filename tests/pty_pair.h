// A pseudo-terminal pair standing in for a serial line in tests.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

// Owns a pty master and keeps one descriptor of its slave open, so that the
// line never hangs up while the code under test opens and closes the slave.
// A serial line starts in raw mode, as a real program leaves a serial port; a
// terminal keeps the settings a new terminal has (line mode, echo).
struct PtyPair {
    enum class Mode { kSerialLine, kTerminal };

    int master = -1;
    int slave = -1;
    std::string slave_path;

    explicit PtyPair(Mode mode = Mode::kSerialLine) {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            return;
        }
        slave_path = ptsname(master);
        slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        if (mode == Mode::kSerialLine && slave >= 0 && tcgetattr(slave, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(slave, TCSANOW, &tio);
        }
    }
    ~PtyPair() {
        if (slave >= 0)
            close(slave);
        if (master >= 0)
            close(master);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master >= 0 && slave >= 0; }

    // Closes the master side: the slave sees the line hang up.
    void close_master() {
        if (master >= 0)
            close(master);
        master = -1;
    }
};
