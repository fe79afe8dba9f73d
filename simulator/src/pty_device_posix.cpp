#include "simulator/pty_device.h"

#include "console/deadline.h"
#include "simulator/pty_line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

using Clock = std::chrono::steady_clock;

struct PtyDevice {
    PtyDeviceSetup setup;
    PtyLine pty;
    int wake[2] = {-1, -1};  // a pipe: a byte written to wake[1] stops the thread
    std::thread thread;
    std::mutex mutex;  // guards events
    std::vector<WireEvent> events;
};

namespace {

void close_fd(int* fd) {
    if (*fd >= 0) {
        close(*fd);
        *fd = -1;
    }
}

void record(PtyDevice* device, bool sent, std::uint8_t byte) {
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - device->setup.start).count();
    const WireEvent event{ms, sent, byte, device->setup.port_name};
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        device->events.push_back(event);
    }
    if (device->setup.log != nullptr) {
        std::fputs(format_wire_event(event).c_str(), device->setup.log);
        std::fflush(device->setup.log);
    }
}

// Replies waiting to leave, by the time they are due (microseconds since
// setup.start); replies due at the same time leave in the order they came.
using Pending = std::multimap<std::int64_t, std::uint8_t>;

std::int64_t us_now(const PtyDevice* device) {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - device->setup.start)
        .count();
}

// Writes every reply whose time has come. Returns false when the master
// cannot take a byte right now (the host is not reading).
bool send_due(PtyDevice* device, Pending* pending) {
    while (!pending->empty() && pending->begin()->first <= us_now(device)) {
        const std::uint8_t byte = pending->begin()->second;
        const ssize_t n = write(device->pty.master, &byte, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            return false;
        }
        if (n == 1) {
            record(device, true, byte);
        }
        pending->erase(pending->begin());  // written, or the line is gone: either way done
    }
    return true;
}

void run_device(PtyDevice* device) {
    DeviceEngine engine;
    engine_power_on(&engine, device->setup.knobs);
    Pending pending;
    std::vector<TimedByte> replies;
    bool master_writable = true;
    bool master_usable = true;

    for (;;) {
        pollfd fds[2] = {};
        fds[0].fd = device->wake[0];
        fds[0].events = POLLIN;
        fds[1].fd = master_usable ? device->pty.master : -1;
        fds[1].events = static_cast<short>(POLLIN | (master_writable ? 0 : POLLOUT));
        int timeout = -1;
        if (!pending.empty() && master_writable) {
            timeout =
                ms_until(device->setup.start + std::chrono::microseconds(pending.begin()->first));
        }
        const int ready = poll(fds, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint8_t buffer[256];
            const ssize_t n = read(device->pty.master, buffer, sizeof buffer);
            if (n > 0) {
                for (ssize_t i = 0; i < n && !engine_hung_up(engine); ++i) {
                    record(device, false, buffer[i]);
                    replies.clear();
                    engine_receive(&engine, buffer[i], us_now(device), &replies);
                    for (const TimedByte& reply : replies) {
                        pending.emplace(reply.due_us, reply.byte);
                    }
                }
            } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
                master_usable = false;  // the line is gone; wait only for stop
            }
        } else if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 &&
                   (fds[1].revents & POLLOUT) == 0) {
            // No slave is open (ours was lost): poll would report this
            // again and again, so stop watching the master.
            master_usable = false;
        }
        if ((fds[1].revents & POLLOUT) != 0) {
            master_writable = true;
        }
        if (master_usable && engine_hung_up(engine)) {
            // Pulled: closing the master is what the host sees as a hang-up.
            close_fd(&device->pty.master);
            master_usable = false;
        }
        if (master_usable) {
            master_writable = send_due(device, &pending);
        }
    }
}

bool open_pty(PtyDevice* device, std::string* error) {
    if (!open_pty_line(&device->pty, PtyMode::kSerialLine, error)) {
        return false;
    }
    const int flags = fcntl(device->pty.master, F_GETFL);
    if (flags < 0 || fcntl(device->pty.master, F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = std::string("fcntl: ") + std::strerror(errno);
        return false;
    }
    // FD_CLOEXEC is on before this thread, the one that starts programs,
    // starts any.
    if (pipe(device->wake) != 0 || fcntl(device->wake[0], F_SETFD, FD_CLOEXEC) != 0 ||
        fcntl(device->wake[1], F_SETFD, FD_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void release(PtyDevice* device) {
    close_fd(&device->wake[0]);
    close_fd(&device->wake[1]);
    close_pty_line(&device->pty);
    delete device;
}

}  // namespace

PtyDevice* pty_device_start(const PtyDeviceSetup& setup, std::string* error) {
    auto* device = new PtyDevice;
    device->setup = setup;
    if (!open_pty(device, error)) {
        release(device);
        return nullptr;
    }
    try {
        device->thread = std::thread(run_device, device);
    } catch (const std::system_error& e) {
        *error = std::string("cannot start the device thread: ") + e.what();
        release(device);
        return nullptr;
    }
    return device;
}

void pty_device_stop(PtyDevice* device) {
    if (device == nullptr) {
        return;
    }
    const char stop = 1;
    while (write(device->wake[1], &stop, 1) < 0 && errno == EINTR) {
    }
    device->thread.join();
    release(device);
}

const std::string& pty_device_slave_path(const PtyDevice* device) {
    return device->pty.slave_path;
}

int pty_device_slave_fd(const PtyDevice* device) {
    return device->pty.slave;
}

std::vector<WireEvent> pty_device_events(PtyDevice* device) {
    std::lock_guard<std::mutex> lock(device->mutex);
    return device->events;
}
