// Running a program under devsim, as the tests and the benchmark do: the
// simulated device attached as its only serial port, its output and the line
// log collected.
#pragma once

#include <string>
#include <vector>

#include "simulator/wire_log.h"

struct DevsimRun {
    int exit_status = -1;         // devsim's (the program's); 128+N when killed by signal N
    bool timed_out = false;       // the run took longer than allowed and was killed
    std::string out;              // the program's standard output
    std::string err;              // devsim's and the program's standard error
    std::vector<WireEvent> wire;  // every byte on the line, in order
};

// Runs `devsim` with `devsim_args`, then "--log <workdir>/devsim.log --",
// `program` and `program_args`, in `workdir` (which must exist). The run
// starts a new session, so the program has no controlling terminal and its
// key wait ends at once; its standard input is /dev/null, its standard output
// and error go to files in `workdir`.
//
// Waits up to `timeout_ms`, sleeping in poll() on the child's pidfd; past
// that, kills the whole run and reports timed_out. A run that could not be
// started has exit_status -1 and the reason in err.
DevsimRun run_under_devsim(const std::string& devsim, const std::vector<std::string>& devsim_args,
                           const std::string& program, const std::vector<std::string>& program_args,
                           const std::string& workdir, int timeout_ms);
