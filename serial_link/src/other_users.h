// Who else has a port: the processes that hold it open, and the terminal
// this process talks to its user on. Platform file: port_holders_<platform>.cpp.
#pragma once

#include <string>

#include "serial_link/port_holders.h"
#include "serial_link/serial_gate.h"

// True when process `pid` is running and is not a zombie, whether or not
// this process may signal it. A zombie holds nothing.
bool process_alive(int pid);

// Fills `failure` and returns false when the device at `device_path` must
// not be opened although no lock says so: another process has it open
// (kOpenElsewhere, with the lowest such PID), or it is a terminal of this
// process or the console (kConsole), so that sync bytes would land on the
// user's screen. Returns true, changing nothing, otherwise.
bool free_of_other_users(const std::string& device_path, OpenFailure* failure);
