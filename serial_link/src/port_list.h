// The platform's list of serial ports, behind SerialGate::GetPortsInfo.
#pragma once

#include <string>

#include "serial_link/port_paths.h"
#include "serial_link/serial_gate.h"

// Fills `info` (not null) as SerialGate::GetPortsInfo describes, everything
// after the last entry zeroed. `paths` is used on Linux only.
void fill_port_list(const PortPaths& paths, PortInfo* info);

// The number of the port in the list under `paths` whose device is the one
// `device` leads to (links followed), or -1 when none is.
int listed_port_of(const PortPaths& paths, const std::string& device);

// The port number of "COM<n>" (any letter case, n 1..255, no leading zero),
// or -1 for anything else.
int com_number(const char* text);

// POSIX: the device path of port `port` under `paths` (with the device it
// leads to, when a link), and on Linux the USB adapter's "usb
// <vendor>:<product>" and "serial <serial>" where sysfs names them.
// Windows: the port's DOS name and its driver's device. For the run log.
std::string port_identity(const PortPaths& paths, int port);
