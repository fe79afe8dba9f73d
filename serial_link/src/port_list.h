// The platform's list of serial ports, behind SerialGate::GetPortsInfo.
#pragma once

#include <string>

#include "serial_link/port_paths.h"
#include "serial_link/serial_gate.h"

// Fills `info` (not null) as SerialGate::GetPortsInfo describes, everything
// after the last entry zeroed. `paths` is used on Linux only.
void fill_port_list(const PortPaths& paths, PortInfo* info);
