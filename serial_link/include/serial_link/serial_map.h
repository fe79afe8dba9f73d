// Windows: the system's serial-port map, as the port list reads it and
// pager-ports explains it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The state byte of a Bluetooth serial port (the Microsoft stack's
// \Device\BthModem<n>, or any device node whose hardware ID starts BTHENUM).
// Opening one makes Windows try to reach the paired device, for seconds at
// a time, so discovery passes it by.
inline constexpr std::uint8_t kStateBluetooth = 2;

// The state byte of a port in the serial-port map, by the name of its value
// there (the driver's device): kStateBluetooth for \Device\BthModem<n>,
// PortInfo::kStateProbe for any other.
std::uint8_t serial_map_state(const char* device);

// The driver's device of port `port` in the serial-port map
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), such as "\Device\Serial0", else
// the target of its DOS device name, or "" when neither knows the port.
std::string serial_map_device(int port);

// What the device node of a port tells, as Device Manager shows it.
struct ComPortDevice {
    std::string name;         // its friendly name, "USB-SERIAL CH340 (COM5)", UTF-8
    std::string hardware_id;  // its first hardware ID, "USB\VID_1A86&PID_7523&REV_0264"
    int vid = -1;             // the USB vendor and product IDs in it, -1 when none
    int pid = -1;
    int latency_ms = -1;     // FTDI: the latency timer of its own node, -1 for others or unknown
    bool bluetooth = false;  // a serial port of a Bluetooth stack (hardware ID BTHENUM...)
};

// The device node of port `port` among the present devices of the "Ports
// (COM & LPT)" class and the COM-port interface, found by the PortName of
// the node's own registry key; never by an entry that a device plugged in
// earlier left behind. When two present nodes claim the port, the first
// found. Returns false, leaving `device` alone, when none does.
bool com_port_device(int port, ComPortDevice* device);

// The COM numbers above 255 that the system has, ascending. The port list
// record holds 8-bit numbers, so the programs never try these ports; the
// port's number can be changed in Device Manager.
std::vector<int> com_ports_past_list();
