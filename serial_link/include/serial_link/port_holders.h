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

// One look through the system for every port at once: until
// end_holder_census, port_holders and SerialGate::Open answer from it instead
// of each taking a look of its own, which on Linux costs a stat of every
// descriptor of every process. A walk over the ports takes one; a program
// that opens a port later than its look may be missed by it, so the port a
// run keeps is looked at afresh (SerialGate::OtherHolders). Other systems:
// nothing to take.
void begin_holder_census();
void end_holder_census();

// The command name of process `pid`, "" when it cannot be seen.
std::string process_command(int pid);
