// Who has a port open besides this process: what pager-ports names, and
// what makes Open pass a port by.
#pragma once

#include <string>
#include <vector>

// A process that has a port open.
struct PortHolder {
    int pid = 0;
    std::string command;  // its command name as the system gives it (any bytes), "" when unseen
};

// The processes other than this one that have the device at `device_path`
// (links followed) open, in ascending PID, found by device number, not by
// name: two names of one device are one port. Only the processes this user
// may look into are seen: for a user other than root, not those of other
// users. The far end of a pseudo-terminal (the process holding its master,
// such as devsim) plays the device and is not counted.
// Linux: from /proc/<pid>/fd. Other systems: none.
std::vector<PortHolder> port_holders(const std::string& device_path);

// The PIDs of the processes this user may look at, ascending. Linux: from
// /proc. Other systems: none.
std::vector<int> process_ids();

// The command name of process `pid`, "" when it cannot be seen.
std::string process_command(int pid);
