// The platform's list of serial ports, behind SerialGate::GetPortsInfo.
#pragma once

#include "serial_link/serial_gate.h"

// Fills `info` as SerialGate::GetPortsInfo describes. `paths` is used on
// POSIX only.
void fill_port_list(const PortPaths& paths, PortInfo* info);
