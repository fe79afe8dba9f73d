#include <errno.h>
#include <sys/prctl.h>
#include <time.h>

#include "serial_link/serial_link.h"

namespace {

// The kernel may let a sleep run late by the thread's timer slack, 50 us by
// default. Thousands of pauses make up a long erase run, so ask for the
// smallest slack once.
void tighten_timer_slack() {
    static const bool done = [] {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        return true;
    }();
    (void)done;
}

}  // namespace

void pause_ms(int ms) {
    if (ms <= 0) {
        return;
    }
    tighten_timer_slack();
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    // An absolute deadline on the monotonic clock never ends early; a signal
    // only interrupts the sleep, which then resumes towards the same deadline.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
