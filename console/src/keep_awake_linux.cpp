// Keeping the machine awake on Linux: a logind inhibitor lock, asked for over
// the system bus. logind keeps the lock while the descriptor it hands back is
// open; closing it, or the process ending, lets go.
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "device_run_platform.h"

namespace {

// The longest the run waits for the bus and logind, all told. Where there is
// no bus the connection fails at once, and a bus without logind answers
// "no such service" at once; only a bus that hangs costs this much.
constexpr std::uint64_t kBusWaitUs = 500000;

// The inhibitor lock, -1 while none is held.
int inhibitor = -1;

std::uint64_t monotonic_us() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

struct InhibitCall {
    bool answered = false;
    int lock = -1;  // a copy of the descriptor in the reply, ours to close
};

int take_reply(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto* call = static_cast<InhibitCall*>(data);
    call->answered = true;
    int lock = -1;
    if (!sd_bus_message_is_method_error(reply, nullptr) &&
        sd_bus_message_read(reply, "h", &lock) > 0 && lock >= 0) {
        // The reply owns its descriptor and closes it with the message.
        call->lock = fcntl(lock, F_DUPFD_CLOEXEC, 3);
    }
    return 0;
}

// Runs the bus until the call is answered, the connection fails or the
// deadline passes, sleeping in between.
void wait_for_answer(sd_bus* bus, const InhibitCall& call, std::uint64_t deadline) {
    while (!call.answered) {
        const int progress = sd_bus_process(bus, nullptr);
        if (progress < 0) {
            return;
        }
        if (progress > 0) {
            continue;
        }
        const std::uint64_t now = monotonic_us();
        if (now >= deadline || sd_bus_wait(bus, deadline - now) < 0) {
            return;
        }
    }
}

}  // namespace

void keep_awake(const char* program, const char* purpose) {
    if (inhibitor >= 0) {
        return;
    }
    const std::uint64_t deadline = monotonic_us() + kBusWaitUs;
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        return;
    }
    InhibitCall call;
    sd_bus_slot* slot = nullptr;
    if (sd_bus_call_method_async(bus, &slot, "org.freedesktop.login1", "/org/freedesktop/login1",
                                 "org.freedesktop.login1.Manager", "Inhibit", take_reply, &call,
                                 "ssss", "sleep:idle", program, purpose, "block") >= 0) {
        wait_for_answer(bus, call, deadline);
    }
    // An unanswered call is dropped with its slot: its reply, should it still
    // come, finds no one and its lock is closed with the connection.
    sd_bus_slot_unref(slot);
    sd_bus_close_unref(bus);
    inhibitor = call.lock;
}

void let_sleep() {
    if (inhibitor >= 0) {
        close(inhibitor);
        inhibitor = -1;
    }
}
