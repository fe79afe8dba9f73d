// A pseudo-terminal pair standing in for a serial line or a terminal in tests.
#pragma once

#include <unistd.h>

#include <string>

#include "simulator/pty_line.h"

// Owns a pty master and keeps one descriptor of its slave open, so that the
// line never hangs up while the code under test opens and closes the slave.
struct PtyPair : PtyLine {
    using Mode = PtyMode;

    explicit PtyPair(Mode mode = Mode::kSerialLine) {
        std::string ignored;
        open_pty_line(this, mode, &ignored);
    }
    ~PtyPair() { close_pty_line(this); }
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
