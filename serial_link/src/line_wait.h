// The line as the runs and discovery use it: the one wait every other is
// made of, and the one way each byte goes out or comes in.
#pragma once

#include "serial_link/serial_gate.h"

// Waits up to `ms` for a byte to be ready, bounded on the steady clock
// (steady_us), in slices of at most kWaitSliceMs, so that an interruption
// ends the wait within one slice. A slice that the system ends early
// without a byte is waited out, sleeping, so that the bound holds whatever
// the driver does and a wait that fails at once cannot turn into a spin.
// Returns true as soon as a byte is ready; false when the time passed, the
// line was lost or an interruption came.
bool wait_for_input(SerialGate& gate, int ms);

// SerialGate::Send and Recv, with every byte that went out or came in noted
// in the run log (console/run_log.h). The runs and discovery send and read
// through these alone.
int line_send(SerialGate& gate, const char* buffer, int length);
int line_recv(SerialGate& gate, char* buffer, int length);
