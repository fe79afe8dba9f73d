// The port list on Linux: the serial device nodes found in dev_dir, and what
// the kernel says about the legacy UARTs in sys_tty_dir.

#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "port_list.h"

namespace {

// One family of serial device names: <prefix>0 .. <prefix>31 are ports
// first_port .. first_port + 31.
struct PortFamily {
    const char* prefix;
    int first_port;
};

constexpr int kPortsPerFamily = 32;

// The state byte of a ttyS node with no UART behind it: listed, never probed.
constexpr std::uint8_t kStateNoUart = 0;

// In ascending order of port number.
constexpr PortFamily kPortFamilies[] = {
    {"ttyS", 1},     // on-board UARTs
    {"ttyUSB", 33},  // USB serial adapters
    {"ttyACM", 65},  // USB CDC-ACM modems and boards
    {"ttyAMA", 97},  // ARM PrimeCell UARTs
};

// True when `path`, after following links, is a character device. Decided by
// stat() rather than by directory entry types, so that udev links and nodes
// bind-mounted over plain files count as what they lead to.
bool is_char_device(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// True when the kernel reports a UART behind ttyS device `name`: its
// sys_tty_dir/<name>/type holds a non-zero integer. Legacy ttyS nodes exist
// whether or not hardware is there, and opening an empty one can stall, so
// the answer comes from sysfs and the port itself is never touched.
bool has_uart(const std::string& sys_tty_dir, const std::string& name) {
    std::ifstream type_file(sys_tty_dir + "/" + name + "/type");
    long type = 0;
    return static_cast<bool>(type_file >> type) && type != 0;
}

}  // namespace

void fill_port_list(const PortPaths& paths, PortInfo* info) {
    info->clear();
    for (const PortFamily& family : kPortFamilies) {
        const bool legacy_uart = std::strcmp(family.prefix, "ttyS") == 0;
        for (int k = 0; k < kPortsPerFamily; ++k) {
            const std::string name = family.prefix + std::to_string(k);
            if (!is_char_device(paths.dev_dir + "/" + name)) {
                continue;
            }
            const bool probe = !legacy_uart || has_uart(paths.sys_tty_dir, name);
            info->append(family.first_port + k, probe ? PortInfo::kStateProbe : kStateNoUart);
        }
    }
}

std::string port_device_path(const PortPaths& paths, int port) {
    if (port == kDevicePathPort && !paths.chosen_device.empty()) {
        return paths.chosen_device;
    }
    for (const PortFamily& family : kPortFamilies) {
        const int k = port - family.first_port;
        if (k >= 0 && k < kPortsPerFamily) {
            return paths.dev_dir + "/" + family.prefix + std::to_string(k);
        }
    }
    return std::string();
}

int listed_port_of(const PortPaths& paths, const std::string& device) {
    struct stat chosen;
    if (stat(device.c_str(), &chosen) != 0 || !S_ISCHR(chosen.st_mode)) {
        return -1;
    }
    PortInfo ports{};
    fill_port_list(paths, &ports);
    for (int i = 0; i < ports.count(); ++i) {
        struct stat listed;
        const std::string path = port_device_path(paths, ports.port(i));
        if (stat(path.c_str(), &listed) == 0 && listed.st_rdev == chosen.st_rdev) {
            return ports.port(i);
        }
    }
    return -1;
}

const bool kPortPathsTaken = true;

bool read_port_choice(const char* text, PortChoice* choice) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    PortChoice read;
    read.port = com_number(text);
    const bool path = std::strchr(text, '/') != nullptr;
    // COM0 or COM256 is a mistyped port number, not a name in /dev.
    if (read.port < 0 && !path && strncasecmp(text, "COM", 3) == 0) {
        return false;
    }
    if (read.port < 0) {
        read.device = path ? text : std::string("/dev/") + text;
    }
    *choice = read;
    return true;
}

namespace {

// The first line of `path`, "" when it cannot be read.
std::string first_line(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

}  // namespace

std::string port_identity(const PortPaths& paths, int port) {
    const std::string path = port_device_path(paths, port);
    std::string identity = path;
    char real[PATH_MAX];
    if (path.empty() || realpath(path.c_str(), real) == nullptr) {
        return identity;
    }
    const std::string name = std::strrchr(real, '/') + 1;
    if (std::string(real) != path) {
        identity += std::string(" (") + real + ")";
    }
    // A USB adapter's tty sits one or two levels below the USB device, which
    // names its vendor, product and serial number.
    char device[PATH_MAX];
    const std::string link = paths.sys_tty_dir + "/" + name + "/device";
    if (realpath(link.c_str(), device) == nullptr) {
        return identity;
    }
    std::string dir = device;
    for (int up = 0; up < 4 && dir.size() > 1; ++up) {
        const std::string vendor = first_line(dir + "/idVendor");
        if (!vendor.empty()) {
            identity += " usb " + vendor + ":" + first_line(dir + "/idProduct");
            const std::string serial = first_line(dir + "/serial");
            if (!serial.empty()) {
                identity += " serial " + serial;
            }
            break;
        }
        dir.erase(dir.rfind('/'));
    }
    return identity;
}
