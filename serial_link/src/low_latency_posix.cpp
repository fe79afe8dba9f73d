// The low-latency flag on POSIX systems other than Linux: none of them has a
// portable way to ask for it, so the driver is left as it is.
#include "low_latency.h"

SerialIoctl serial_ioctl = nullptr;

LowLatency low_latency_on(int) {
    return {};
}

void low_latency_off(int, const LowLatency&) {}
