// The process around a run: its standard streams, its command line and its
// interruption by the user or the system.
#pragma once

#include <span>

// Makes sure standard input, output and error are open before anything else
// opens a file, so that no port or file the run opens can take their place
// and receive the messages. POSIX: opens /dev/null on any of descriptors 0, 1
// and 2 that is closed. Windows: points a missing standard handle at NUL.
void open_standard_streams();

// One option a program takes besides help and the version: "--name" alone,
// or, with a value name, "--name VALUE" or "--name=VALUE".
struct Option {
    const char* name;        // "--port"
    const char* value_name;  // "PORT" as --help shows it; nullptr: the option takes no value
    // Set by read_command_line: the value given, "" for an option without a
    // value, nullptr when the option was not given.
    const char* given = nullptr;
};

// What reading the command line came to.
enum class CommandLine {
    kRun,       // the options are read: the program goes on
    kAnswered,  // help or the version was printed: exit 0, no port touched
    kRefused,   // not a command line the program takes: exit kUsageStatus
};

// The exit status of a refused command line.
inline constexpr int kUsageStatus = 2;

// Reads the command line of `program` against `options`, in order:
// - -h, --help, -? or /? prints `usage`, --version "<program> <version>\n",
//   to standard output: kAnswered;
// - each of `options` may be given once; its value is the next word, which
//   must not begin with "-", or follows "=" in the same word;
// - anything else (an unknown word, an option twice, one without its value,
//   a value given to an option that takes none) prints one line to standard
//   error: "<program>: <why>. Usage: <program> [--name VALUE] ...;
//   '<program> --help' tells more." and gives kRefused.
// The first of these that comes ends the reading.
CommandLine read_command_line(int argc, const char* const* argv, const char* program,
                              const char* usage, std::span<Option> options);

// Prints read_command_line's line for a refused command line, saying `why`.
void print_usage_error(const char* program, std::span<const Option> options, const char* why);

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
