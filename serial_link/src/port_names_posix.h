// How POSIX device names map to the COM port numbers the user sees.
#pragma once

#include <string>

// One family of serial device names: <prefix>0 .. <prefix>31 are ports
// first_port .. first_port + 31.
struct PortFamily {
    const char* prefix;
    int first_port;
};

inline constexpr int kPortsPerFamily = 32;

// In ascending order of port number.
inline constexpr PortFamily kPortFamilies[] = {
    {"ttyS", 1},     // on-board UARTs
    {"ttyUSB", 33},  // USB serial adapters
    {"ttyACM", 65},  // USB CDC-ACM modems and boards
    {"ttyAMA", 97},  // ARM PrimeCell UARTs
};

// Returns the device name (no directory) of port `port`, or an empty string
// when the number belongs to no family.
inline std::string port_device_name(int port) {
    for (const PortFamily& family : kPortFamilies) {
        int k = port - family.first_port;
        if (k >= 0 && k < kPortsPerFamily) {
            return family.prefix + std::to_string(k);
        }
    }
    return std::string();
}
