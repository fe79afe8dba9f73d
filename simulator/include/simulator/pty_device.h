// The simulated device on a pseudo-terminal: a thread runs the protocol
// engine on the pty master while programs open the slave as a serial port.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "simulator/device_engine.h"
#include "simulator/wire_log.h"

struct PtyDeviceSetup {
    DeviceKnobs knobs;
    // When not null, every byte is written to it as a line of the line log
    // (simulator/wire_log.h) and flushed at once. Several devices may share
    // one stream.
    std::FILE* log = nullptr;
    // The port's name in the log: "" for the device, a silent port's name.
    std::string port_name;
    // Timestamps count from here.
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

struct PtyDevice;  // opaque; made by pty_device_start, freed by pty_device_stop

// Opens a fresh pty, puts its slave in raw mode and keeps one descriptor of
// the slave open for the device's whole life, so that the line never hangs
// up while programs open and close the slave. Then starts the thread that
// plays the device on the master: it sleeps in poll() until a byte comes or
// a delayed reply falls due (deadlines on the steady clock).
//
// Returns the running device, or nullptr with a message in *error when the
// pty or the thread could not be made. All descriptors are close-on-exec.
PtyDevice* pty_device_start(const PtyDeviceSetup& setup, std::string* error);

// Stops the thread, closes the pty and frees `device`. Replies still waiting
// for their delay are dropped. Does nothing for nullptr.
void pty_device_stop(PtyDevice* device);

// The slave's path, such as "/dev/pts/3".
const std::string& pty_device_slave_path(const PtyDevice* device);

// The device's own descriptor of the slave (valid until pty_device_stop).
int pty_device_slave_fd(const PtyDevice* device);

// Every byte received and sent so far, in order.
std::vector<WireEvent> pty_device_events(PtyDevice* device);
