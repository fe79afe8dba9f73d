// Ending a run that stopped early: interrupted between two commands to the
// device, or stopped for a reason of the device link.
#pragma once

#include "serial_link/serial_gate.h"
#include "serial_link/serial_link.h"

// When an interruption has come (console/process.h): closes the gate's port,
// restoring its settings and releasing it, and ends the process as the
// interruption would have (end_if_interrupted). Otherwise returns at once.
// The library's waits and frames only return early when an interruption
// comes (Stop::kInterrupted), never inside a command, so that the device
// always gets whole commands and every way out of the process shows in the
// run.
void close_and_end_if_interrupted(SerialGate& gate);

// The one place a run ends on `stop`: on kInterrupted, as
// close_and_end_if_interrupted (it does not return); otherwise prints why
// (say_stop) and returns the exit status (stop_status). The port is left as
// it is: the process ends next.
int end_run(Link& link, const Stop& stop);
