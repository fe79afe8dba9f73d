// The low-latency flag on Linux: ASYNC_LOW_LATENCY in the flags that
// TIOCGSERIAL reads and TIOCSSERIAL sets. Any user who may open the port may
// set it. Drivers without the request (a pty, older cp210x, ch341 and pl2303)
// answer ENOTTY or EINVAL; those are left alone.
#include <linux/serial.h>
#include <sys/ioctl.h>

#include "low_latency.h"

namespace {

int system_ioctl(int fd, unsigned long request, void* arg) {
    return ioctl(fd, request, arg);
}

}  // namespace

SerialIoctl serial_ioctl = system_ioctl;

LowLatency low_latency_on(int fd) {
    serial_struct serial{};
    if (serial_ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        return {};
    }
    const int found = serial.flags;
    if ((found & ASYNC_LOW_LATENCY) != 0) {
        return {};  // already so: nothing to put back
    }
    serial.flags = found | ASYNC_LOW_LATENCY;
    if (serial_ioctl(fd, TIOCSSERIAL, &serial) != 0) {
        return {};
    }
    return {true, found};
}

void low_latency_off(int fd, const LowLatency& found) {
    serial_struct serial{};
    if (!found.changed || serial_ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        return;
    }
    serial.flags = found.flags_found;
    serial_ioctl(fd, TIOCSSERIAL, &serial);
}
