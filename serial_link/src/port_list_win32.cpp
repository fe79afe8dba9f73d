// The port list on Windows: the serial-port map in the registry and the DOS
// device names.
#include <windows.h>

#include <cstring>
#include <set>
#include <vector>

#include "port_list.h"
#include "port_list_win32.h"

namespace {

// Largest COM number read; Windows' own limit is far below it.
constexpr int kMaxComNumber = 65535;

// The ports found: the state byte of each number the list can hold (0 for
// no port), and the numbers above that.
struct FoundPorts {
    std::uint8_t states[PortInfo::kMaxEntries + 1] = {};
    std::set<int> past_list;
};

void add_port(const char* name, std::uint8_t state, FoundPorts& ports) {
    const int number = com_port_number(name);
    if (number > PortInfo::kMaxEntries) {
        ports.past_list.insert(number);
    } else if (number > 0 && ports.states[number] == 0) {
        ports.states[number] = state;
    }
}

// Calls `visit(device, port_name)` for each entry of the serial-port map the
// port drivers keep: one REG_SZ value "COM<n>" per port, named after the
// driver's device. Under Wine it also holds the ports mapped in
// HKLM\Software\Wine\Ports.
template <typename Visit>
void visit_serial_map(Visit visit) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        char value_name[256];
        DWORD value_name_size = sizeof value_name;
        char data[64];
        DWORD data_size = sizeof data - 1;
        DWORD type = 0;
        const LONG result = RegEnumValueA(key, index, value_name, &value_name_size, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &data_size);
        if (result == ERROR_MORE_DATA) {
            continue;  // too long to be a port name
        }
        if (result != ERROR_SUCCESS) {
            break;
        }
        if (type == REG_SZ) {
            data[data_size] = '\0';  // the stored string need not end in NUL
            visit(value_name, data);
        }
    }
    RegCloseKey(key);
}

// The DOS device names, which catch ports whose driver skips the map above.
void add_dos_device_ports(FoundPorts& ports) {
    std::vector<char> names(16 * 1024);
    while (QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size())) == 0) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || names.size() >= 1024 * 1024) {
            return;
        }
        names.resize(names.size() * 2);
    }
    // A list of NUL-terminated names, ended by an empty one.
    for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
        add_port(name, PortInfo::kStateProbe, ports);
    }
}

}  // namespace

int com_port_number(const char* name) {
    if ((name[0] != 'C' && name[0] != 'c') || (name[1] != 'O' && name[1] != 'o') ||
        (name[2] != 'M' && name[2] != 'm') || name[3] < '1' || name[3] > '9') {
        return -1;
    }
    int number = 0;
    for (const char* digit = name + 3; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9') {
            return -1;
        }
        number = number * 10 + (*digit - '0');
        if (number > kMaxComNumber) {
            return -1;
        }
    }
    return number;
}

std::uint8_t serial_map_state(const char* device) {
    static const char kBluetooth[] = "\\Device\\BthModem";
    return _strnicmp(device, kBluetooth, sizeof kBluetooth - 1) == 0 ? kStateBluetooth
                                                                     : PortInfo::kStateProbe;
}

std::string serial_map_device(int port) {
    std::string found;
    visit_serial_map([&](const char* device, const char* name) {
        if (found.empty() && com_port_number(name) == port) {
            found = device;
        }
    });
    return found;
}

// Every port the system has.
FoundPorts find_ports() {
    FoundPorts ports;
    // The map first: it alone tells a Bluetooth port by its device name.
    visit_serial_map([&](const char* device, const char* name) {
        add_port(name, serial_map_state(device), ports);
    });
    add_dos_device_ports(ports);
    return ports;
}

void fill_port_list(const PortPaths& /*paths*/, PortInfo* info) {
    const FoundPorts ports = find_ports();
    info->clear();
    for (int number = 1; number <= PortInfo::kMaxEntries; ++number) {
        if (ports.states[number] != 0) {
            info->append(number, ports.states[number]);
        }
    }
}

std::vector<int> com_ports_past_list() {
    const FoundPorts ports = find_ports();
    return std::vector<int>(ports.past_list.begin(), ports.past_list.end());
}

int listed_port_of(const PortPaths&, const std::string&) {
    return -1;
}

const bool kPortPathsTaken = false;

bool read_port_choice(const char* text, PortChoice* choice) {
    const int port = text != nullptr ? com_number(text) : -1;
    if (port < 0) {
        return false;
    }
    *choice = PortChoice{port, std::string()};
    return true;
}

std::string port_identity(const PortPaths&, int port) {
    const std::string device = serial_map_device(port);
    return "\\\\.\\COM" + std::to_string(port) + (device.empty() ? "" : " " + device);
}
