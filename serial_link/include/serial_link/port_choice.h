// The port a user chose (--port), for discovery to try alone.
#pragma once

#include <string>

struct PortChoice {
    int port = -1;       // its COM number; -1: every port, in list order
    std::string device;  // POSIX: the device path given instead of a number, else ""
};

// The port number under which a device path that is none of the port list's
// devices is listed and opened: shown as "COM0", a number no port has.
inline constexpr int kDevicePathPort = 0;

// Reads a --port value into *choice. "COM<n>", in any letter case, with n
// from 1 to 255 and no leading zero, is port n on every platform. POSIX: any
// other value is a device path, and a name without "/" is one in /dev
// ("ttyUSB0" is /dev/ttyUSB0); links such as /dev/serial/by-id/... are
// followed when the port is chosen (SerialGate::ChoosePort). Windows: nothing
// else. Returns false, leaving *choice as it was, for a value it cannot take.
bool read_port_choice(const char* text, PortChoice* choice);

// True where read_port_choice takes device paths (POSIX).
extern const bool kPortPathsTaken;
