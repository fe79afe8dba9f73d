// The serial driver's low-latency mode: received bytes handed over at once
// rather than when the adapter's own timer runs out. An FTDI chip holds what
// it receives for up to 16 ms by default; in this mode ftdi_sio sets that
// timer to 1 ms.
#pragma once

// What low_latency_on found, for low_latency_off to put back.
struct LowLatency {
    bool changed = false;  // the driver took the flag: the old flags go back
    int flags_found = 0;   // the driver's flags before
};

// Sets the low-latency flag of the serial driver behind `fd`, keeping its
// other settings. A driver that has no such flag, refuses it, or is no
// serial driver (a pseudo-terminal) is left as it was, and `changed` is then
// false. Never fails the caller and never prints.
LowLatency low_latency_on(int fd);

// Puts back the driver's flags as `found` recorded them when
// low_latency_on changed them; does nothing otherwise.
void low_latency_off(int fd, const LowLatency& found);

// How the Linux version reaches the driver: ioctl() with TIOCGSERIAL and
// TIOCSSERIAL. A test puts a fake driver here; the version for other systems
// never calls it.
using SerialIoctl = int (*)(int fd, unsigned long request, void* arg);
extern SerialIoctl serial_ioctl;
