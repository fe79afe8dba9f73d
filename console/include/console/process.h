// The process around a run: its standard streams, its command line and its
// interruption by the user or the system.
#pragma once

// Makes sure standard input, output and error are open before anything else
// opens a file, so that no port or file the run opens can take their place
// and receive the messages. POSIX: opens /dev/null on any of descriptors 0, 1
// and 2 that is closed. Windows: points a missing standard handle at NUL.
void open_standard_streams();

// Answers a first argument that asks for help (-h, --help, -? or /?) or for
// the version (--version): prints `usage`, or "<program> <version>\n" with
// the project's version, to standard output and returns true; the program
// then ends with status 0, having touched no port. Returns false, printing
// nothing, for any other command line: every other argument, and any other
// first argument, is ignored.
bool answer_help_or_version(int argc, const char* const* argv, const char* program,
                            const char* usage);

// Interruption. SIGINT, SIGTERM and SIGHUP (Windows: Ctrl+C, Ctrl+Break and
// the console window being closed) only note that the run is to stop; the run
// looks at the note between commands, so that the device never sees half a
// command. SIGPIPE is ignored: output whose reader has gone is lost, and the
// run goes on. A signal that was ignored when the program started (nohup, a
// background job of a non-interactive shell) stays ignored.
void install_interrupt_handlers();

// True once an interruption has come.
bool interrupt_requested();

// Notes an interruption by signal `signal` (Windows: the control event's
// code); all that the handlers do. Tests call it to interrupt at a chosen
// moment.
void request_interrupt(int signal);

// Writes out the output still held, then ends the process as the
// interruption would have without a handler: POSIX re-raises the signal with
// its default action, so that the parent sees a death by it; Windows exits
// with STATUS_CONTROL_C_EXIT. The caller has closed the port first; the hold
// on the system (device_run.h) is let go here. Returns only when no
// interruption has come.
void end_if_interrupted();
