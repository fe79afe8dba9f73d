// devsim: plays the paging device on a pseudo-terminal, either for one
// program run in a private /dev, or served until stopped.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "simulator/devsim_options.h"
#include "simulator/private_dev.h"
#include "simulator/pty_device.h"

namespace {

using Clock = std::chrono::steady_clock;

void complain(const std::string& message) {
    std::fprintf(stderr, "devsim: %s\n", message.c_str());
}

void stop_all(std::vector<PtyDevice*>* devices) {
    for (PtyDevice* device : *devices) {
        pty_device_stop(device);
    }
    devices->clear();
}

// Starts the silent ports and the device; returns false after a complaint.
bool start_devices(const DevsimOptions& options, std::FILE* log, Clock::time_point start,
                   std::vector<PtyDevice*>* devices, std::vector<DevPort>* ports) {
    const int count = options.silent_ports + (options.absent ? 0 : 1);
    for (int k = 0; k < count; ++k) {
        const bool silent = k < options.silent_ports;
        const std::string name = "ttyUSB" + std::to_string(k);
        PtyDeviceSetup setup;
        setup.knobs = options.knobs;
        if (silent) {
            setup.knobs = DeviceKnobs{};
            setup.knobs.mute = true;
            setup.port_name = name;
        }
        setup.log = log;
        setup.start = start;
        std::string error;
        PtyDevice* device = pty_device_start(setup, &error);
        if (device == nullptr) {
            complain("cannot make a pseudo-terminal: " + error);
            stop_all(devices);
            return false;
        }
        devices->push_back(device);
        ports->push_back(DevPort{name, pty_device_slave_path(device)});
    }
    return true;
}

int run_program(const DevsimOptions& options, std::FILE* log, Clock::time_point start) {
    // The terminal's Ctrl+C and Ctrl+\ go to the program; devsim outlives
    // them to report its status. SIGTERM and SIGHUP are passed on to it.
    // Signals are blocked before any thread starts, so only sigwaitinfo
    // below sees them.
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    sigset_t waited;
    sigemptyset(&waited);
    sigaddset(&waited, SIGCHLD);
    sigaddset(&waited, SIGTERM);
    sigaddset(&waited, SIGHUP);
    sigprocmask(SIG_BLOCK, &waited, nullptr);

    std::vector<PtyDevice*> devices;
    std::vector<DevPort> ports;
    if (!start_devices(options, log, start, &devices, &ports)) {
        return kDevsimSystemError;
    }
    const PrivateDevRun run = start_with_private_dev(ports, options.program);
    if (run.failure != kPrivateDevOk) {
        stop_all(&devices);
        complain(run.message);
        switch (run.failure) {
            case kPrivateDevNoNamespace:
                return kDevsimNoNamespace;
            case kPrivateDevCannotRun:
                return kDevsimCannotRun;
            default:
                return kDevsimSystemError;
        }
    }

    int status = 0;
    for (;;) {
        siginfo_t info{};
        const int sig = sigwaitinfo(&waited, &info);
        if (sig < 0) {
            continue;  // EINTR
        }
        if (sig == SIGTERM || sig == SIGHUP) {
            kill(run.pid, sig);
            continue;
        }
        const pid_t done = waitpid(run.pid, &status, WNOHANG);
        if (done == run.pid) {
            break;
        }
        if (done < 0 && errno == ECHILD) {
            status = 0;
            break;
        }
    }
    stop_all(&devices);
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : kDevsimSystemError;
}

// Makes the pty the controlling terminal of a session of its own, held by a
// child that lives until `*release_fd` is closed (or devsim dies). Programs
// that open the pty without O_NOCTTY then cannot adopt it. Returns the
// child's pid, or -1 after a complaint.
pid_t hold_in_own_session(int slave_fd, int* release_fd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        complain(std::string("pipe: ") + std::strerror(errno));
        return -1;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        complain(std::string("fork: ") + std::strerror(errno));
        close(fds[0]);
        close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        close(fds[1]);
        if (setsid() < 0 || ioctl(slave_fd, TIOCSCTTY, 0) != 0) {
            _exit(1);
        }
        char byte;
        for (;;) {
            const ssize_t n = read(fds[0], &byte, 1);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            _exit(0);  // devsim closed its end, or died
        }
    }
    close(fds[0]);
    *release_fd = fds[1];
    return pid;
}

int run_serve(const DevsimOptions& options, std::FILE* log, Clock::time_point start) {
    sigset_t waited;
    sigemptyset(&waited);
    sigaddset(&waited, SIGINT);
    sigaddset(&waited, SIGTERM);
    sigaddset(&waited, SIGHUP);
    sigprocmask(SIG_BLOCK, &waited, nullptr);

    PtyDeviceSetup setup;
    setup.knobs = options.knobs;
    setup.log = log;
    setup.start = start;
    std::string error;
    PtyDevice* device = pty_device_start(setup, &error);
    if (device == nullptr) {
        complain("cannot make a pseudo-terminal: " + error);
        return kDevsimSystemError;
    }
    const std::string& slave = pty_device_slave_path(device);
    int release_fd = -1;
    const pid_t holder = hold_in_own_session(pty_device_slave_fd(device), &release_fd);
    if (holder < 0) {
        pty_device_stop(device);
        return kDevsimSystemError;
    }
    if (!options.link.empty()) {
        struct stat st {};
        if (lstat(options.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            unlink(options.link.c_str());  // a stale link from an earlier run
        }
        if (symlink(slave.c_str(), options.link.c_str()) != 0) {
            complain("cannot create the link " + options.link + ": " + std::strerror(errno));
            close(release_fd);
            waitpid(holder, nullptr, 0);
            pty_device_stop(device);
            return kDevsimSystemError;
        }
    }
    std::printf("%s\n", slave.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "devsim: serving the device on %s%s%s; stop with Ctrl+C\n", slave.c_str(),
                 options.link.empty() ? "" : ", linked from ", options.link.c_str());

    int sig = -1;
    while (sig < 0) {
        sig = sigwaitinfo(&waited, nullptr);
    }
    if (!options.link.empty()) {
        unlink(options.link.c_str());
    }
    pty_device_stop(device);
    close(release_fd);
    while (waitpid(holder, nullptr, 0) < 0 && errno == EINTR) {
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Clock::time_point start = Clock::now();
    const std::vector<std::string> args(argv + 1, argv + argc);
    DevsimOptions options;
    std::string error;
    if (!parse_devsim_args(args, &options, &error)) {
        complain(error);
        std::fprintf(stderr, "Try 'devsim --help'.\n");
        return kDevsimUsage;
    }
    if (options.help) {
        std::fputs(devsim_usage(), stdout);
        return 0;
    }
    std::FILE* log = nullptr;
    bool own_log = false;
    if ((options.log && options.log_path == "-") || (!options.log && options.serve)) {
        log = stderr;
    } else if (options.log) {
        log = std::fopen(options.log_path.c_str(), "we");
        if (log == nullptr) {
            complain("cannot write the log " + options.log_path + ": " + std::strerror(errno));
            return kDevsimSystemError;
        }
        own_log = true;
    }
    const int status =
        options.serve ? run_serve(options, log, start) : run_program(options, log, start);
    if (own_log) {
        std::fclose(log);
    }
    return status;
}
