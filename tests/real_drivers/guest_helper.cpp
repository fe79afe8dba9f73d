// The guest's side of the real-driver job (.ci/real-drivers): runs one
// program and measures it, watches device nodes for opens, reads a serial
// driver's flags and relays a line. Built statically with the programs and
// started by the guest's init script.
//
//   guest_helper run DIR PROGRAM [ARGS...]
//       Runs PROGRAM in DIR, in a session of its own (no controlling
//       terminal, so the key prompt does not wait), with standard input
//       from /dev/null and standard output and error into DIR/out and
//       DIR/err. When it ends, writes DIR/result:
//           status N | signal N
//           wall_ms W       from start to exit
//           cpu_ms C        user + system time of PROGRAM
//           mark_ms M       wall time at SIGUSR1, -1 without one
//           mark_cpu_ms K   PROGRAM's CPU time at SIGUSR1, -1 without one
//       SIGUSR1 marks a moment of the run (the unplug); the program is
//       killed if it is still running `kill_after` seconds after it (the
//       environment variable KILL_AFTER_MARK, default 5). Exits 0 when the
//       result was written.
//
//   guest_helper watch-opens PATH...
//       Prints "open PATH MS" each time one of PATH is opened and "close
//       PATH MS" each time such an open file is closed for good (its last
//       descriptor), MS being the monotonic clock in milliseconds, until
//       killed. Prints "ready" once every watch is set.
//
//   guest_helper serial-flags PATH
//       Prints "serial flags 0x<hex>" with the flags TIOCGSERIAL reads from
//       PATH's driver (ASYNC_LOW_LATENCY is 0x2000), or "serial flags none"
//       when the driver has no such request. Does not change the port.
//
//   guest_helper relay A B
//       Copies bytes both ways between the devices A and B, either of them
//       a terminal put in raw mode, until one hangs up or fails.
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time the process has used so far, from the scheduler's own count in
// nanoseconds; -1 when it cannot be read.
double cpu_ms_of(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/schedstat";
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        return -1;
    }
    unsigned long long ns = 0;
    const bool ok = std::fscanf(file, "%llu", &ns) == 1;
    std::fclose(file);
    return ok ? static_cast<double>(ns) / 1e6 : -1;
}

int run(const char* dir, char** argv) {
    const char* kill_env = std::getenv("KILL_AFTER_MARK");
    const double kill_after_ms = 1000.0 * (kill_env != nullptr ? std::atof(kill_env) : 5.0);

    // Both signals are taken by sigtimedwait below, never by a handler.
    sigset_t waited;
    sigemptyset(&waited);
    sigaddset(&waited, SIGCHLD);
    sigaddset(&waited, SIGUSR1);
    sigprocmask(SIG_BLOCK, &waited, nullptr);

    const std::string base(dir);
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        sigprocmask(SIG_UNBLOCK, &waited, nullptr);
        const int in = open("/dev/null", O_RDONLY);
        const int out = open((base + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((base + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(dir) != 0 || setsid() < 0) {
            _exit(126);
        }
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv);
        _exit(127);
    }

    double mark_ms = -1;
    double mark_cpu_ms = -1;
    bool killed = false;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) {
            break;
        }
        double wait_ms = 1000;
        if (mark_ms >= 0 && !killed) {
            const double left = mark_ms + kill_after_ms - ms_since(start);
            if (left <= 0) {
                kill(pid, SIGKILL);
                killed = true;
                continue;
            }
            wait_ms = left < wait_ms ? left : wait_ms;
        }
        const long ns = static_cast<long>(wait_ms * 1e6);
        const timespec timeout{ns / 1000000000L, ns % 1000000000L};
        if (sigtimedwait(&waited, nullptr, &timeout) == SIGUSR1 && mark_ms < 0) {
            mark_ms = ms_since(start);
            mark_cpu_ms = cpu_ms_of(pid);
        }
    }
    const double wall_ms = ms_since(start);
    const double cpu_ms = usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
                          usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;

    std::FILE* result = std::fopen((base + "/result").c_str(), "we");
    if (result == nullptr) {
        std::perror("result");
        return 1;
    }
    if (WIFSIGNALED(status)) {
        std::fprintf(result, "signal %d\n", WTERMSIG(status));
    } else {
        std::fprintf(result, "status %d\n", WEXITSTATUS(status));
    }
    std::fprintf(result, "wall_ms %.1f\ncpu_ms %.1f\nmark_ms %.1f\nmark_cpu_ms %.1f\n", wall_ms,
                 cpu_ms, mark_ms, mark_cpu_ms);
    std::fclose(result);
    return 0;
}

int watch_opens(int count, char** paths) {
    const int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0) {
        std::perror("inotify_init1");
        return 1;
    }
    std::map<int, std::string> names;
    for (int i = 0; i < count; ++i) {
        const int wd = inotify_add_watch(fd, paths[i], IN_OPEN | IN_CLOSE);
        if (wd < 0) {
            std::fprintf(stderr, "cannot watch %s: %s\n", paths[i], std::strerror(errno));
            return 1;
        }
        names[wd] = paths[i];
    }
    std::printf("ready\n");
    std::fflush(stdout);
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return 1;
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
            if ((event->mask & IN_OPEN) != 0) {
                std::printf("open %s %.1f\n", names[event->wd].c_str(), ms);
            }
            if ((event->mask & IN_CLOSE) != 0) {
                std::printf("close %s %.1f\n", names[event->wd].c_str(), ms);
            }
            std::fflush(stdout);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

// The port is opened without waiting for a carrier; a second open of a line
// held exclusively works for root, whom the guest runs as.
int serial_flags(const char* path) {
    const int fd = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "%s: %s\n", path, std::strerror(errno));
        return 1;
    }
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        std::printf("serial flags 0x%x\n", static_cast<unsigned>(serial.flags));
    } else {
        std::printf("serial flags none\n");
    }
    close(fd);
    return 0;
}

int open_raw(const char* path) {
    const int fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL;
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

int relay(const char* a, const char* b) {
    const int fds[2] = {open_raw(a), open_raw(b)};
    if (fds[0] < 0 || fds[1] < 0) {
        std::perror("relay");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        pollfd pfds[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        if (poll(pfds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 1;
        }
        for (int i = 0; i < 2; ++i) {
            if (pfds[i].revents == 0) {
                continue;
            }
            char buffer[256];
            const ssize_t n = read(fds[i], buffer, sizeof buffer);
            if (n <= 0 && !(n < 0 && errno == EINTR)) {
                return 0;  // hung up or failed: the line is gone
            }
            for (ssize_t at = 0; at < n;) {
                const ssize_t put = write(fds[1 - i], buffer + at, static_cast<size_t>(n - at));
                if (put < 0 && errno != EINTR) {
                    return 0;
                }
                at += put > 0 ? put : 0;
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "run") == 0) {
        return run(argv[2], argv + 3);
    }
    if (argc >= 3 && std::strcmp(argv[1], "watch-opens") == 0) {
        return watch_opens(argc - 2, argv + 2);
    }
    if (argc == 3 && std::strcmp(argv[1], "serial-flags") == 0) {
        return serial_flags(argv[2]);
    }
    if (argc == 4 && std::strcmp(argv[1], "relay") == 0) {
        return relay(argv[2], argv[3]);
    }
    std::fprintf(stderr,
                 "usage: guest_helper run DIR PROGRAM [ARGS...]\n"
                 "       guest_helper watch-opens PATH...\n"
                 "       guest_helper serial-flags PATH\n"
                 "       guest_helper relay A B\n");
    return 2;
}
