// Windows helpers behind the port list, visible to their tests.
#pragma once

#include <cstdint>
#include <string>

#include "serial_link/serial_gate.h"

// The state byte of a Bluetooth serial port: opening one makes Windows try to
// reach the paired device, for seconds at a time, so discovery passes it by.
inline constexpr std::uint8_t kStateBluetooth = 2;

// The port number of a DOS device name "COM<n>" (any letter case), 1..255.
// Returns -1 for anything else: other names, n out of range, leading zeros,
// trailing characters.
int com_port_number(const char* name);

// The state byte of a port in the serial-port map, by the name of its value
// there (the driver's device): kStateBluetooth for \Device\BthModem<n>,
// PortInfo::kStateProbe for any other.
std::uint8_t serial_map_state(const char* device);

// The driver's device of port `port` in the serial-port map
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), such as "\Device\Serial0", or ""
// when the map does not list the port.
std::string serial_map_device(int port);
