// Windows: the system's serial-port map, as the port list reads it and
// pager-ports explains it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The state byte of a Bluetooth serial port. Opening one makes Windows try
// to reach the paired device, for seconds at a time, so discovery passes it
// by.
inline constexpr std::uint8_t kStateBluetooth = 2;

// The state byte of a port in the serial-port map, by the name of its value
// there (the driver's device): kStateBluetooth for \Device\BthModem<n>,
// PortInfo::kStateProbe for any other.
std::uint8_t serial_map_state(const char* device);

// The driver's device of port `port` in the serial-port map
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), such as "\Device\Serial0", or ""
// when the map does not list the port.
std::string serial_map_device(int port);

// The COM numbers above 255 that the system has, ascending. The port list
// record holds 8-bit numbers, so the programs never try these ports; the
// port's number can be changed in Device Manager.
std::vector<int> com_ports_past_list();
