// A pseudo-terminal standing in for a serial line, or for a terminal.
#pragma once

#include <string>

struct PtyLine {
    int master = -1;
    int slave = -1;  // one descriptor of the slave, so the line never hangs up by itself
    std::string slave_path;
};

enum class PtyMode {
    kSerialLine,  // raw at 9600 baud, as a program leaves a serial port
    kTerminal,    // the settings a new terminal has (line mode, echo)
};

// Opens a fresh pty and one descriptor of its slave, neither of them the
// controlling terminal, and sets the slave up for `mode`: as a serial line,
// every byte passes unchanged both ways. All descriptors are close-on-exec.
// Returns false with the failing step and the system's reason in *error, and
// nothing left open.
bool open_pty_line(PtyLine* pty, PtyMode mode, std::string* error);

// Closes whatever of `pty` is open.
void close_pty_line(PtyLine* pty);
