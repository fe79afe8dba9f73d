// Waiting for the line: the one wait every other is made of.
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
