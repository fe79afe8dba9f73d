// Stopping a run that was interrupted, between two commands to the device.
#pragma once

#include "serial_link/serial_gate.h"

// When an interruption has come (console/process.h): closes the gate's port,
// restoring its settings and releasing it, writes out the output still held
// and ends the process as the interruption would have. Otherwise returns at
// once. Called before each command and between sync attempts, never inside a
// command, so that the device always gets whole commands.
void stop_if_interrupted(SerialGate& gate);
