// Discovery's inner step, kept inside the library and visible to its tests.
#pragma once

#include "serial_link/serial_gate.h"

// Number of sync attempts per port.
inline constexpr int kSyncAttempts = 20;

// Runs the sync handshake on the open port of `gate`: exactly kSyncAttempts
// times, send FF, pause 20 ms, read one byte without waiting for it; an FF
// read back is an echo and prints ".". The pause is the echo's time: a device
// answers within a few milliseconds and a USB adapter hands the byte on
// within 16, so a port with nothing behind it costs no more than the pauses.
// Stops early, after the attempt in flight, when an interruption comes
// (interrupt_requested, console/process.h).
// Returns the number of echoes, 0..kSyncAttempts.
int probe_port(SerialGate& gate);
