// The process on POSIX: standard descriptors, signals and the way out after
// one.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "console/device_run.h"
#include "console/process.h"
#include "console/run_log.h"
#include "console/title.h"

namespace {

// The signal that interrupted the run, 0 while none has.
volatile sig_atomic_t interrupt_signal = 0;

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void open_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // The lowest free descriptor is `fd` itself, the lower ones being open.
        int opened;
        do {
            opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        } while (opened < 0 && errno == EINTR);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

void install_interrupt_handlers() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);

    // SA_RESTART keeps reads and writes of the console and files going;
    // sleeps and polls still return early, and their callers go on with them.
    struct sigaction note {};
    note.sa_handler = request_interrupt;
    sigemptyset(&note.sa_mask);
    note.sa_flags = SA_RESTART;
    for (int signal : kInterruptSignals) {
        struct sigaction found {};
        if (sigaction(signal, nullptr, &found) == 0 && found.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(signal, &note, nullptr);
    }
}

bool interrupt_requested() {
    return interrupt_signal != 0;
}

void request_interrupt(int signal) {
    interrupt_signal = signal;
}

void end_if_interrupted() {
    const int signal = interrupt_signal;
    if (signal == 0) {
        return;
    }
    put_back_title();
    release_device_run();
    std::fflush(stdout);
    std::fflush(stderr);
    run_log_signal(signal);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(signal, &dfl, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    // A signal the default action does not end the process with cannot come
    // here; should it, end as a shell would report it.
    _exit(128 + signal);
}
