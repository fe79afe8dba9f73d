// Where the platform looks for serial ports, and a SerialGate that looks
// elsewhere: tests give it a /dev and a /sys/class/tty of their own, so that
// they decide which ports the machine has.
#pragma once

#include <memory>
#include <string>

#include "serial_link/serial_gate.h"

// Linux: the device nodes, the kernel's tty descriptions and the UUCP lock
// files. Windows ignores them and asks the system.
struct PortPaths {
    std::string dev_dir = "/dev";                // holds ttyS<k>, ttyUSB<k>, ttyACM<k>, ttyAMA<k>
    std::string sys_tty_dir = "/sys/class/tty";  // holds ttyS<k>/type
    std::string lock_dir = "/var/lock";          // holds UUCP lock files LCK..<name>
    // A device path chosen by the user that is none of the ports under
    // dev_dir: port kDevicePathPort (serial_link/port_choice.h) when not "".
    std::string chosen_device;
};

// POSIX: the device path of port `port` under `paths`, or an empty string
// when the number names no port. The port list knows the system's device
// names, so the POSIX gate asks it.
std::string port_device_path(const PortPaths& paths, int port);

// A SerialGate that lists and opens the ports found under `paths`.
class SerialGateAt : public SerialGate {
  public:
    explicit SerialGateAt(const PortPaths& paths) {
        paths_ = std::make_unique<const PortPaths>(paths);
    }
};
