// What a tool that explains the machine's serial ports (pager-ports) may ask
// of the device link beyond SerialGate, so that it says exactly what the
// programs do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serial_link/port_paths.h"
#include "serial_link/serial_gate.h"

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

// POSIX: the device path of port `port` under `paths`, or an empty string
// when the number names no port. The port list knows the system's device
// names, so the POSIX gate asks it.
std::string port_device_path(const PortPaths& paths, int port);

// Number of sync attempts per port.
inline constexpr int kSyncAttempts = 20;

// Runs the sync handshake on the open port of `gate`: exactly kSyncAttempts
// times, send FF, pause 20 ms, read one byte without waiting for it; an FF
// read back is an echo and prints ".". The pause is the echo's time: a device
// answers within a few milliseconds and a USB adapter hands the byte on
// within 16, so a port with nothing behind it costs no more than the pauses.
// Stops early, after the attempt in flight, when an interruption comes
// (interrupt_requested, console/process.h).
// Returns the number of echoes, 0..kSyncAttempts.
int probe_port(SerialGate& gate);

// Windows: the state byte of a Bluetooth serial port (the Microsoft stack's
// \Device\BthModem<n>, or any device node whose hardware ID starts BTHENUM). Opening one makes
// Windows try to reach the paired device, for seconds at a time, so
// discovery passes it by.
inline constexpr std::uint8_t kStateBluetooth = 2;

// Windows: the state byte of a port in the serial-port map, by the name of
// its value there (the driver's device): kStateBluetooth for
// \Device\BthModem<n>, PortInfo::kStateProbe for any other.
std::uint8_t serial_map_state(const char* device);

// Windows: the driver's device of port `port` in the serial-port map
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), such as "\Device\Serial0", else
// the target of its DOS device name, or "" when neither knows the port.
std::string serial_map_device(int port);

// Windows: what the device node of a port tells, as Device Manager shows it.
struct ComPortDevice {
    std::string name;         // its friendly name, "USB-SERIAL CH340 (COM5)", UTF-8
    std::string hardware_id;  // its first hardware ID, "USB\VID_1A86&PID_7523&REV_0264"
    int vid = -1;             // the USB vendor and product IDs in it, -1 when none
    int pid = -1;
    int latency_ms = -1;     // FTDI: the latency timer of its own node, -1 for others or unknown
    bool bluetooth = false;  // a serial port of a Bluetooth stack (hardware ID BTHENUM...)
};

// Windows: the device node of port `port` among the present devices of the
// "Ports (COM & LPT)" class and the COM-port interface, found by the
// PortName of the node's own registry key; never by an entry that a device
// plugged in earlier left behind. When two present nodes claim the port, the
// first found. Returns false, leaving `device` alone, when none does.
bool com_port_device(int port, ComPortDevice* device);

// Windows: the COM numbers above 255 that the system has, ascending. The
// port list record holds 8-bit numbers, so the programs never try these
// ports; the port's number can be changed in Device Manager.
std::vector<int> com_ports_past_list();
