// The command line of devsim, the simulated-device runner.
#pragma once

#include <string>
#include <vector>

#include "simulator/device_engine.h"

// Exit statuses of devsim itself; otherwise it exits with the program's.
inline constexpr int kDevsimUsage = 2;         // bad command line
inline constexpr int kDevsimSystemError = 71;  // pty, fork or log file failed
inline constexpr int kDevsimNoNamespace = 77;  // no private /dev could be made
inline constexpr int kDevsimCannotRun = 127;   // PROGRAM could not be started

// Most silent ports: ttyUSB0..ttyUSB31 are the names a port scan looks at.
inline constexpr int kMaxSilentPorts = 31;

struct DevsimOptions {
    DeviceKnobs knobs;
    bool help = false;
    bool serve = false;
    std::string link;                  // --serve only: symlink to the slave, "" for none
    bool absent = false;               // attach no device
    int silent_ports = 0;              // silent ports before the device
    bool log = false;                  // --log given
    std::string log_path;              // "-" for standard error
    std::vector<std::string> program;  // PROGRAM and its arguments
};

// Parses `args` (the command line without the program name) into *options.
// Option values may follow as the next word or after "=". Everything after
// "--", or from the first word that is not an option, is the program to run.
//
// Returns true on success. Returns false with a one-line message in *error
// for an unknown option, a missing or out-of-range value, or a combination
// that makes no sense (no program without --serve, --link without --serve,
// --serve with a program, --absent or --silent-ports). After --help the rest
// is not checked.
bool parse_devsim_args(const std::vector<std::string>& args, DevsimOptions* options,
                       std::string* error);

// The --help text.
const char* devsim_usage();
