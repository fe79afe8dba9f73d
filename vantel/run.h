// The configuration writer's run, from finding the device to the key prompt.
#pragma once

#include "serial_link/run_options.h"

// Finds the device (on the port of `options` alone when it names one), reads and checks
// "config.txt", writes the three settings, reads each back and reports it, closes the port and
// waits for a key. Returns the exit status: 0 when the run completed, whatever the verify results;
// 1 when no device answered, config.txt is missing or bad, or the line was lost, echoed or brought
// bytes nobody asked for. An interruption ends the process here, after the command in flight, as
// the signal would.
int run_vantel(const RunOptions& options);
inline int run_vantel() {
    return run_vantel(RunOptions{});
}
