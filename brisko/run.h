// The table eraser's run, from finding the device to the key prompt.
#pragma once

#include "serial_link/run_options.h"

// Finds the device (on the port of `options` alone when it names one), reads its table geometry,
// clears every entry, checks every entry, prints the error count, closes the port and waits for a
// key. Returns the exit status: 0 when the run completed, whatever the error count; 1 when no
// device answered, it did not report a geometry it can have, the line was lost, echoed or brought
// bytes nobody asked for, or the device stopped answering. An interruption ends the process here,
// after the command in flight, as the signal would.
int run_brisko(const RunOptions& options);
inline int run_brisko() {
    return run_brisko(RunOptions{});
}
