// Tests of the key prompt. Each wait runs in a child process that takes a
// pseudo-terminal as its controlling terminal, as a program started from a
// shell has one; the test types keys on the master side and looks at the
// terminal's settings and left-over input through a slave descriptor of its own.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "console/console.h"
#include "console/process.h"
#include "pty_pair.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kPrompt = "\nPress any key ...";

// Far longer than any wait that should end at once needs, even under sanitizers.
constexpr auto kBound = 5s;

// A pseudo-terminal with the settings a new terminal has (line mode, echo).
struct Terminal : PtyPair {
    Terminal() : PtyPair(Mode::kTerminal) {}
};

struct Pipe {
    int read_end = -1;
    int write_end = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) == 0) {
            read_end = fds[0];
            write_end = fds[1];
        }
    }
    ~Pipe() {
        close_write();
        if (read_end >= 0)
            close(read_end);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void close_write() {
        if (write_end >= 0)
            close(write_end);
        write_end = -1;
    }
};

void write_all(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ASSERT_GT(n, 0) << "write failed";
        done += static_cast<size_t>(n);
    }
}

// Reads what fd holds now, without waiting for more.
std::string read_available(int fd) {
    std::string got;
    pollfd pfd{fd, POLLIN, 0};
    char buf[256];
    while (poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN) != 0) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

// The input still waiting in the terminal. Line mode holds back a line
// without its line feed, so line mode is switched off to see all of it.
std::string left_over_input(int slave) {
    termios tio{};
    if (tcgetattr(slave, &tio) != 0)
        return "<tcgetattr failed>";
    tio.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(slave, TCSANOW, &tio) != 0)
        return "<tcsetattr failed>";
    return read_available(slave);
}

// How the child is set up before it calls wait_key.
struct ChildSetup {
    bool controlling_terminal = true;
    int out = -1;  // becomes standard output
    int in = -1;   // becomes standard input when set
    bool ignore_hangup = false;
    bool interruptible = false;  // as the programs run: handlers, and death by the signal after
    bool background = false;     // in a process group of its own, not the terminal's foreground
};

pid_t start_waiter(Terminal& term, const ChildSetup& setup) {
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    close(term.master);
    close(term.slave);
    if (setsid() < 0)
        _exit(90);
    if (setup.controlling_terminal) {
        int fd = open(term.slave_path.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || ioctl(fd, TIOCSCTTY, 0) != 0)
            _exit(91);
        close(fd);
    }
    if (dup2(setup.out, STDOUT_FILENO) < 0)
        _exit(92);
    if (setup.in >= 0 && dup2(setup.in, STDIN_FILENO) < 0)
        _exit(93);
    if (setup.ignore_hangup)
        signal(SIGHUP, SIG_IGN);
    if (setup.background) {
        // A job of its own, as a shell starts "program &"; its parent reports
        // a stop by SIGTTOU or SIGTTIN as exit status 95.
        const pid_t job = fork();
        if (job > 0) {
            int status = 0;
            waitpid(job, &status, WUNTRACED);
            if (WIFSTOPPED(status)) {
                kill(job, SIGKILL);
                _exit(95);
            }
            _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 96);
        }
        setpgid(0, 0);
    }
    if (setup.interruptible)
        install_interrupt_handlers();
    wait_key();
    std::fflush(stdout);
    if (setup.interruptible)
        end_if_interrupted();
    _exit(0);
}

// Waits up to kBound for the child to end and returns its wait status. A
// child still running then is killed and -1 returned.
int wait_exit(pid_t pid) {
    const auto deadline = Clock::now() + kBound;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return status;
        if (Clock::now() > deadline)
            break;
        std::this_thread::sleep_for(2ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

bool running_after(pid_t pid, Clock::duration pause) {
    std::this_thread::sleep_for(pause);
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
}

std::string describe(int status) {
    if (status == -1)
        return "still waiting after the time bound";
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status));
    return "exit status " + std::to_string(WEXITSTATUS(status));
}

bool exited_ok(int status) {
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Reads the terminal's echo of `typed` from its master side, waiting up to
// kBound for all of it: a control character echoes as two bytes (^X).
bool echoed(int master, const std::string& typed) {
    std::size_t expected = 0;
    for (unsigned char c : typed) {
        expected += c < 0x20 && c != '\t' && c != '\n' ? 2 : 1;
    }
    std::string echo;
    const auto deadline = Clock::now() + kBound;
    while (echo.size() < expected && Clock::now() < deadline) {
        pollfd pfd{master, POLLIN, 0};
        if (poll(&pfd, 1, 100) == 1)
            echo += read_available(master);
    }
    return echo.size() >= expected;
}

// Waits until the terminal has left line mode, i.e. the wait has begun.
bool wait_raw(int slave) {
    const auto deadline = Clock::now() + kBound;
    while (Clock::now() < deadline) {
        termios tio{};
        if (tcgetattr(slave, &tio) == 0 && (tio.c_lflag & ICANON) == 0)
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

termios settings(int fd) {
    termios tio{};
    EXPECT_EQ(tcgetattr(fd, &tio), 0);
    return tio;
}

void expect_same_settings(const termios& before, const termios& after) {
    EXPECT_EQ(before.c_iflag, after.c_iflag);
    EXPECT_EQ(before.c_oflag, after.c_oflag);
    EXPECT_EQ(before.c_cflag, after.c_cflag);
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    for (int i = 0; i < NCCS; ++i) {
        EXPECT_EQ(before.c_cc[i], after.c_cc[i]) << "c_cc[" << i << "]";
    }
    EXPECT_EQ(cfgetispeed(&before), cfgetispeed(&after));
    EXPECT_EQ(cfgetospeed(&before), cfgetospeed(&after));
}

// Bytes a terminal sends for one key press, and what of them and of the keys
// after it must be left unread.
struct KeyCase {
    const char* name;
    std::string typed;
    std::string left;
};

// Runs one wait, types `typed` before the wait starts (ahead) or during it,
// and checks the prompt, the exit, the settings and the input left over.
void check_key(const KeyCase& key, bool ahead) {
    SCOPED_TRACE(key.name);
    Terminal term;
    Pipe out;
    ASSERT_TRUE(term.ok() && out.read_end >= 0);
    const termios before = settings(term.slave);
    if (ahead) {
        write_all(term.master, key.typed);
        // The whole echo shows that the line discipline has taken every key.
        ASSERT_TRUE(echoed(term.master, key.typed));
    }
    pid_t pid = start_waiter(term, {.out = out.write_end});
    ASSERT_GT(pid, 0);
    out.close_write();
    if (!ahead) {
        ASSERT_TRUE(wait_raw(term.slave));
        write_all(term.master, key.typed);
    }
    int status = wait_exit(pid);
    EXPECT_TRUE(exited_ok(status)) << describe(status);
    EXPECT_EQ(read_available(out.read_end), kPrompt);
    expect_same_settings(before, settings(term.slave));
    EXPECT_EQ(left_over_input(term.slave), key.left);
}

TEST(WaitKey, WaitsUntilAKeyComesWithTheTerminalRaw) {
    Terminal term;
    Pipe out;
    ASSERT_TRUE(term.ok() && out.read_end >= 0);
    const termios before = settings(term.slave);
    pid_t pid = start_waiter(term, {.out = out.write_end});
    ASSERT_GT(pid, 0);
    out.close_write();
    ASSERT_TRUE(wait_raw(term.slave));

    const termios during = settings(term.slave);
    EXPECT_EQ(during.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(during.c_iflag & IXON, 0u);
    EXPECT_EQ(read_available(out.read_end), kPrompt) << "the prompt shows before the key";
    EXPECT_TRUE(running_after(pid, 300ms));

    write_all(term.master, "x");
    int status = wait_exit(pid);
    EXPECT_TRUE(exited_ok(status)) << describe(status);
    expect_same_settings(before, settings(term.slave));
    EXPECT_EQ(left_over_input(term.slave), "");
}

TEST(WaitKey, OneKeyEndsTheWaitAndIsTakenWhole) {
    const KeyCase keys[] = {
        {"letter", "x", ""},
        {"only the first of two keys", "xy", "y"},
        {"Enter", "\r", ""},
        {"Backspace", "\x7f", ""},
        {"Ctrl+C", "\x03", ""},
        {"Ctrl+Z", "\x1a", ""},
        {"Ctrl+backslash", "\x1c", ""},
        {"Ctrl+S", "\x13", ""},
        {"Ctrl+Q", "\x11", ""},
        {"Ctrl+D", "\x04", ""},
        {"Esc", "\x1b", ""},
        {"arrow up", "\x1b[A", ""},
        {"arrow up, then a letter", "\x1b[Az", "z"},
        {"F1 (SS3)", "\x1bOP", ""},
        {"F5", "\x1b[15~", ""},
        {"Ctrl+arrow right", "\x1b[1;5C", ""},
        {"F1 on the Linux console", "\x1b[[A", ""},
        {"Alt+x", "\x1bx", ""},
        {"Alt+arrow up", "\x1b\x1b[A", ""},
        {"two-byte character", "\xc3\xa9", ""},
        {"three-byte character, then a letter", "\xe2\x82\xacz", "z"},
        {"four-byte character", "\xf0\x9f\x99\x82", ""},
    };
    for (const KeyCase& key : keys) {
        check_key(key, false);
    }
}

TEST(WaitKey, KeyTypedAheadEndsTheWaitAtOnce) {
    const KeyCase keys[] = {
        {"letter", "k", ""},
        {"two letters", "kj", "j"},
        {"arrow up", "\x1b[A", ""},
        {"a whole line", "k\r", "\n"},
    };
    for (const KeyCase& key : keys) {
        check_key(key, true);
    }
}

TEST(WaitKey, RedirectedStandardInputNeitherFeedsNorEndsTheWait) {
    Terminal term;
    Pipe out;
    Pipe in;
    ASSERT_TRUE(term.ok() && out.read_end >= 0 && in.read_end >= 0);
    write_all(in.write_end, "abc\n");
    pid_t pid = start_waiter(term, {.out = out.write_end, .in = in.read_end});
    ASSERT_GT(pid, 0);
    out.close_write();
    ASSERT_TRUE(wait_raw(term.slave));
    EXPECT_TRUE(running_after(pid, 300ms));

    write_all(term.master, "x");
    int status = wait_exit(pid);
    EXPECT_TRUE(exited_ok(status)) << describe(status);
    EXPECT_EQ(read_available(in.read_end), "abc\n");
}

// Every other way a wait ends: at once without a terminal to read or in the
// background, by a hang-up, by a signal (the process then dies of it), by
// Ctrl+C as a key, and by a key on a terminal with odd settings. Each ends
// with the prompt shown and the terminal's settings as they were.
TEST(WaitKey, EveryWayAWaitEndsLeavesTheTerminalAsItWas) {
    enum End { kNothing, kHangUp, kTerm, kHup, kCtrlC, kKey };
    const struct {
        const char* what;
        ChildSetup setup;
        End end;
        bool odd_settings = false;
    } cases[] = {
        {"no controlling terminal", {.controlling_terminal = false}, kNothing},
        {"a background job, not stopped", {.background = true}, kNothing},
        {"a hang-up", {.ignore_hangup = true}, kHangUp},
        {"SIGTERM", {.interruptible = true}, kTerm},
        {"SIGHUP", {.interruptible = true}, kHup},
        {"Ctrl+C, a key where the program handles interrupts", {.interruptible = true}, kCtrlC},
        {"a key, on a terminal with odd settings", {}, kKey, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Terminal term;
        Pipe out;
        ASSERT_TRUE(term.ok() && out.read_end >= 0);
        if (c.odd_settings) {
            termios odd = settings(term.slave);
            odd.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHOCTL);
            odd.c_iflag |= IXOFF;
            odd.c_cc[VMIN] = 4;
            odd.c_cc[VTIME] = 9;
            odd.c_cc[VINTR] = 0x07;
            cfsetspeed(&odd, B1200);
            ASSERT_EQ(tcsetattr(term.slave, TCSANOW, &odd), 0);
        }
        const termios before = settings(term.slave);
        ChildSetup setup = c.setup;
        setup.out = out.write_end;
        const pid_t pid = start_waiter(term, setup);
        ASSERT_GT(pid, 0);
        out.close_write();
        if (c.end != kNothing) {
            ASSERT_TRUE(wait_raw(term.slave));
        }
        const int signal = c.end == kTerm ? SIGTERM : c.end == kHup ? SIGHUP : 0;
        if (c.end == kHangUp) {
            term.close_master();
        } else if (signal != 0) {
            kill(pid, signal);
        } else if (c.end != kNothing) {
            write_all(term.master, c.end == kCtrlC ? "\x03" : "x");
        }
        const int status = wait_exit(pid);
        if (signal != 0) {
            EXPECT_TRUE(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == signal)
                << describe(status);
        } else {
            EXPECT_TRUE(exited_ok(status)) << describe(status);
        }
        EXPECT_EQ(read_available(out.read_end), kPrompt);
        if (c.end != kHangUp) {
            expect_same_settings(before, settings(term.slave));
            EXPECT_EQ(left_over_input(term.slave), "");
        }
    }
}

TEST(StdoutIsConsole, OnlyATerminalIsAConsole) {
    Terminal term;
    Pipe pipe;
    int null_dev = open("/dev/null", O_WRONLY | O_CLOEXEC);
    FILE* file = std::tmpfile();
    ASSERT_TRUE(term.ok() && pipe.write_end >= 0 && null_dev >= 0 && file != nullptr);
    const struct {
        const char* name;
        int fd;
        bool console;
    } targets[] = {
        {"terminal", term.slave, true},
        {"/dev/null", null_dev, false},
        {"pipe", pipe.write_end, false},
        {"file", fileno(file), false},
    };
    for (const auto& target : targets) {
        SCOPED_TRACE(target.name);
        std::fflush(stdout);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (dup2(target.fd, STDOUT_FILENO) < 0)
                _exit(90);
            _exit(stdout_is_console() ? 10 : 20);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), target.console ? 10 : 20);
    }
    close(null_dev);
    std::fclose(file);
}

// On a console each message must show the moment it is said, not when the
// program ends: the child says one message and then waits for the test.
TEST(Say, OnAConsoleEachMessageShowsAtOnce) {
    Terminal term;
    Pipe go;
    ASSERT_TRUE(term.ok() && go.read_end >= 0);
    std::fflush(stdout);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        go.close_write();
        if (dup2(term.slave, STDOUT_FILENO) < 0)
            _exit(90);
        say("%d dots", 3);
        char byte = 0;
        (void)!read(go.read_end, &byte, 1);
        _exit(0);
    }
    std::string shown;
    const auto deadline = Clock::now() + kBound;
    while (shown.size() < 6 && Clock::now() < deadline) {
        pollfd pfd{term.master, POLLIN, 0};
        if (poll(&pfd, 1, 100) == 1)
            shown += read_available(term.master);
    }
    EXPECT_EQ(shown, "3 dots");
    go.close_write();
    EXPECT_TRUE(exited_ok(wait_exit(pid)));
}

}  // namespace
