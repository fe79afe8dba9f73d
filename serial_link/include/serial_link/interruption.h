// Ending a run that was interrupted, between two commands to the device.
#pragma once

#include "serial_link/serial_gate.h"

// When an interruption has come (console/process.h): closes the gate's port,
// restoring its settings and releasing it, and ends the process as the
// interruption would have (end_if_interrupted). Otherwise returns at once.
// Only the runs call it, before each command and after each wait, never
// inside a command, so that the device always gets whole commands and every
// way out of the process shows in the run. The library's waits only return
// early when an interruption comes.
void close_and_end_if_interrupted(SerialGate& gate);
