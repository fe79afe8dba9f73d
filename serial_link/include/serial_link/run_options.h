// The command line of vantel and brisko, read before anything else happens,
// and the end every run goes through.
#pragma once

#include "serial_link/port_choice.h"

// What the command line asks of a run.
struct RunOptions {
    PortChoice port;  // --port: discovery tries this port alone
};

// Reads the command line of `program` (vantel or brisko): help and the
// version, --port PORT and --log FILE, with the rules of read_command_line
// (console/process.h). A --port value that names no port (COM0, COM256, or on
// Windows anything but COM<n>) is refused like an unknown argument. With
// --log, the record begins (console/run_log.h) on the steady clock of the
// pauses; a FILE that cannot be written is reported on standard error.
// Returns -1 when the run is to go on, with *options filled; otherwise the
// exit status to end with at once, no port touched: 0 after help or the
// version, kUsageStatus for a refused command line, 1 when the log cannot be
// written.
int read_run_options(int argc, const char* const* argv, const char* program, const char* usage,
                     RunOptions* options);

// Ends a run that returned `status`: puts the console title back and ends
// the record with the status. Returns `status`.
int finish_run(int status);
