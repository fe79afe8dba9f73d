// The port list on Linux: the serial device nodes found in dev_dir, and what
// the kernel says about the legacy UARTs in sys_tty_dir.

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
    for (const PortFamily& family : kPortFamilies) {
        const int k = port - family.first_port;
        if (k >= 0 && k < kPortsPerFamily) {
            return paths.dev_dir + "/" + family.prefix + std::to_string(k);
        }
    }
    return std::string();
}
