// The console title on POSIX: xterm's sequences, which every terminal
// emulator in use reads, written to the controlling terminal.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "title_platform.h"

namespace {

int terminal = -1;

// Writes `text` whole or not at all as far as the caller cares: the
// terminal is never waited on, so a terminal held by Ctrl+S costs the run
// nothing, and a title lost is only a title.
void put(const std::string& text) {
    ssize_t n;
    do {
        n = write(terminal, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
}

}  // namespace

bool title_keep() {
    if (isatty(STDOUT_FILENO) != 1) {
        return false;
    }
    do {
        terminal = open("/dev/tty", O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (terminal < 0 && errno == EINTR);
    // A background job writing to its terminal may be stopped for it.
    if (terminal >= 0 && tcgetpgrp(terminal) != getpgrp()) {
        close(terminal);
        terminal = -1;
    }
    if (terminal < 0) {
        return false;
    }
    put("\033[22;0t");  // the icon and window titles onto the title stack
    return true;
}

void title_set(const char* text) {
    put(std::string("\033]0;") + text + "\007");
}

void title_restore() {
    put("\033[23;0t");  // both back from the stack
    close(terminal);
    terminal = -1;
}
