// The platform's list of serial ports, behind SerialGate::GetPortsInfo.
#pragma once

#include <string>

#include "port_paths.h"
#include "serial_link/serial_gate.h"

// Fills `info` (not null) as SerialGate::GetPortsInfo describes, everything
// after the last entry zeroed. `paths` is used on Linux only.
void fill_port_list(const PortPaths& paths, PortInfo* info);

// POSIX: the device path of port `port` under `paths`, or an empty string
// when the number names no port. The port list knows the system's device
// names, so the POSIX gate asks it.
std::string port_device_path(const PortPaths& paths, int port);
