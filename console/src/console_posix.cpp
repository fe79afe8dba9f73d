// The console on POSIX: the terminal test for standard output and the key wait
// on the controlling terminal.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <initializer_list>

#include "console/console.h"
#include "console/deadline.h"
#include "console/process.h"
#include "console/title.h"
#include "device_run_platform.h"

namespace {

// How long the bytes of one key press may be apart. A terminal sends an
// escape sequence in one write, so its bytes arrive together; a person who
// presses Esc and then another key is far slower than this.
constexpr int kKeyGapMs = 50;

// Longest escape sequence read as one key; anything longer is cut off there.
constexpr int kMaxSequence = 32;

constexpr unsigned char kEsc = 0x1b;

// The signal mask to wait with: the one the wait found, under which the
// interrupt signals blocked during the wait can come in.
sigset_t wait_mask;

// Opens the controlling terminal, read-write if it can, else read-only.
// Returns -1 when the process has none or it cannot be opened.
int open_terminal() {
    for (int flags : {O_RDWR, O_RDONLY}) {
        int fd;
        do {
            fd = open("/dev/tty", flags | O_NOCTTY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) {
            return fd;
        }
    }
    return -1;
}

// Waits until fd (below FD_SETSIZE) has a byte and reads it. timeout_ms < 0
// waits without a bound (blocking in pselect, never spinning); otherwise the
// wait ends after timeout_ms on the steady clock. Returns 1 with the byte in
// *byte, 0 when the time ran out, -1 when the terminal cannot be read (error,
// hang-up, end of input) or an interruption came.
int read_byte(int fd, int timeout_ms, unsigned char* byte) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int wait_ms = -1;
        if (timeout_ms >= 0) {
            wait_ms = ms_until(deadline);
        }
        // The interrupt signals are blocked outside pselect, which lets them in
        // only while it waits, so one that comes just before it still wakes
        // it.
        if (interrupt_requested()) {
            return -1;
        }
        const timespec timeout{wait_ms / 1000, (wait_ms % 1000) * 1000000L};
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        int ready = pselect(fd + 1, &readable, nullptr, nullptr, wait_ms < 0 ? nullptr : &timeout,
                            &wait_mask);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (ready == 0) {
            return 0;
        }
        // Readable also after a hang-up or an error: the read then fails or
        // finds the end of input.
        ssize_t got = read(fd, byte, 1);
        if (got == 1) {
            return 1;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        return -1;
    }
}

// Reads the continuation bytes of a UTF-8 character whose first byte is lead.
void read_utf8_rest(int fd, unsigned char lead) {
    int rest = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        rest = 1;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        rest = 2;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        rest = 3;
    }
    unsigned char byte = 0;
    while (rest-- > 0) {
        if (read_byte(fd, kKeyGapMs, &byte) != 1 || (byte & 0xc0) != 0x80) {
            return;
        }
    }
}

// Reads the rest of a key press whose first byte was ESC. The rule for the
// end of one key press:
// - ESC [ (CSI) is followed by parameter and intermediate bytes 20..3F and
//   ends with a final byte 40..7E: ESC [ A, ESC [ 1 5 ~, ESC [ 1 ; 5 C.
//   The Linux console's ESC [ [ A for F1..F5 takes one byte after the second [.
// - ESC O (SS3) ends with the next byte: ESC O P, ESC O A.
// - ESC and any other byte is that key with Alt (a UTF-8 character counts
//   whole); ESC ESC [ A is an arrow key with Alt.
// - ESC with nothing after it within the gap is the Esc key alone.
// Every following byte must come within the gap of the one before, so a key
// pressed later is never taken as part of this one.
void read_escape_rest(int fd, bool with_alt) {
    unsigned char byte = 0;
    if (read_byte(fd, kKeyGapMs, &byte) != 1) {
        return;
    }
    if (byte == kEsc && !with_alt) {
        read_escape_rest(fd, true);
        return;
    }
    if (byte == 'O') {
        read_byte(fd, kKeyGapMs, &byte);
        return;
    }
    if (byte != '[') {
        read_utf8_rest(fd, byte);
        return;
    }
    for (int n = 0; n < kMaxSequence; ++n) {
        if (read_byte(fd, kKeyGapMs, &byte) != 1) {
            return;
        }
        if (n == 0 && byte == '[') {
            read_byte(fd, kKeyGapMs, &byte);
            return;
        }
        if (byte < 0x20 || byte > 0x3f) {
            return;  // the final byte (or a stray control byte) ends it
        }
    }
}

// Blocks the interrupt signals for the key wait, keeping in wait_mask the
// mask to wait under; restore_signals puts the old mask back.
void block_signals() {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&interrupts, signal);
    }
    sigprocmask(SIG_BLOCK, &interrupts, &wait_mask);
}

void restore_signals() {
    sigprocmask(SIG_SETMASK, &wait_mask, nullptr);
}

}  // namespace

bool stdout_is_console() {
    return isatty(STDOUT_FILENO) == 1;
}

void put_text(const char* text) {
    std::fputs(text, stdout);
}

void wait_key() {
    // The machine may sleep while the prompt waits.
    note_key_prompt();
    // An interrupted run ends without a prompt.
    if (interrupt_requested()) {
        return;
    }
    put_back_title();
    say("\nPress any key ...");
    std::fflush(stdout);

    int fd = open_terminal();
    if (fd < 0) {
        return;
    }
    // pselect watches descriptors below FD_SETSIZE only. A higher one (in a
    // process with a thousand files open) ends the wait at once, as when
    // there is no console.
    if (fd >= FD_SETSIZE) {
        close(fd);
        return;
    }
    termios saved{};
    // A process outside the terminal's foreground process group (a
    // background job) would be stopped by reading the terminal or changing
    // its settings; it cannot have the key, so its wait ends at once.
    if (tcgetpgrp(fd) != getpgrp() || tcgetattr(fd, &saved) != 0) {
        close(fd);
        return;
    }
    block_signals();
    // Raw for the wait: no echo, no line editing, Ctrl+C, Ctrl+Z, Ctrl+\,
    // Ctrl+V, Ctrl+S and Ctrl+Q arrive as keys, and Enter is not dropped.
    // TCSANOW keeps keys typed earlier; in line mode they were held for the
    // line, and they become readable as soon as line editing is off.
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IGNCR);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    int set;
    do {
        set = tcsetattr(fd, TCSANOW, &raw);
    } while (set != 0 && errno == EINTR);
    if (set != 0) {
        restore_signals();
        close(fd);
        return;
    }

    unsigned char first = 0;
    if (read_byte(fd, -1, &first) == 1) {
        if (first == kEsc) {
            read_escape_rest(fd, false);
        } else {
            read_utf8_rest(fd, first);
        }
    }

    do {
        set = tcsetattr(fd, TCSANOW, &saved);
    } while (set != 0 && errno == EINTR);
    close(fd);
    restore_signals();
}
