// The process around a run: its standard streams, its command line and its
// interruption by the user or the system.
#pragma once

// Makes sure standard input, output and error are open before anything else
// opens a file, so that no port or file the run opens can take their place
// and receive the messages. POSIX: opens /dev/null on any of descriptors 0, 1
// and 2 that is closed. Windows: points a missing standard handle at NUL.
void open_standard_streams();

// What the first command-line argument asks for. Every other argument, and
// any first argument not listed here, is ignored.
enum class CommandLine {
    kRun,      // no argument, or one that asks for nothing
    kHelp,     // -h, --help, -? or /?
    kVersion,  // --version
};
CommandLine read_command_line(int argc, const char* const* argv);

// Prints `usage` (help), or "<program> <version>\n" (version), to standard
// output and flushes it. The version is the project's.
void print_usage(const char* usage);
void print_version(const char* program);

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
// with STATUS_CONTROL_C_EXIT. The caller has closed the port first. Returns
// only when no interruption has come.
void end_if_interrupted();
