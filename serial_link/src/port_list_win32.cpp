// The port list on Windows: the present COM-port device nodes, the
// serial-port map in the registry and the DOS device names, all through
// win32_calls.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <set>
#include <vector>

#include "port_list.h"
#include "port_list_win32.h"
#include "win32_calls.h"

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
    } else if (number > 0 && (ports.states[number] == 0 || state == kStateBluetooth)) {
        // A Bluetooth port is passed by whichever source tells it.
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
    if (win32_calls.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                                  KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        char value_name[256];
        DWORD value_name_size = sizeof value_name;
        char data[64];
        DWORD data_size = sizeof data - 1;
        DWORD type = 0;
        const LONG result =
            win32_calls.RegEnumValueA(key, index, value_name, &value_name_size, nullptr, &type,
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
    win32_calls.RegCloseKey(key);
}

// The DOS device names, which catch ports whose driver skips the map above.
void add_dos_device_ports(FoundPorts& ports) {
    std::vector<char> names(16 * 1024);
    while (win32_calls.QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size())) ==
           0) {
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

// `text` (UTF-16, NUL-terminated) in UTF-8.
std::string utf8_from(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return std::string();
    }
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size - 1));
    return out;
}

// A string property of a device node (its first string for a list), "" when
// it has none.
std::string device_property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[512] = {};
    DWORD type = 0;
    if (!win32_calls.SetupDiGetDeviceRegistryPropertyW(
            set, &device, property, &type, reinterpret_cast<BYTE*>(text),
            sizeof text - 2 * sizeof(wchar_t), nullptr) ||
        (type != REG_SZ && type != REG_MULTI_SZ)) {
        return std::string();
    }
    return utf8_from(text);
}

// The four hexadecimal digits after `tag` ("VID_") in `id`, any letter case;
// -1 when there are none.
int id_after(const std::string& id, const char* tag) {
    const std::size_t tag_length = std::strlen(tag);
    for (std::size_t at = 0; at + tag_length + 4 <= id.size(); ++at) {
        if (_strnicmp(id.c_str() + at, tag, tag_length) != 0) {
            continue;
        }
        int value = 0;
        for (std::size_t i = at + tag_length; i < at + tag_length + 4; ++i) {
            const char c = id[i];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) {
                return -1;
            }
            value = value * 16 + digit;
        }
        return value;
    }
    return -1;
}

bool starts_with(const std::string& text, const char* prefix) {
    return _strnicmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// Reads the port's name and, for FTDI, its latency timer from the node's own
// registry key. Returns the COM number, or -1 when the node names no port.
int read_device_key(HDEVINFO set, SP_DEVINFO_DATA& device, ComPortDevice* found) {
    const HKEY key =
        win32_calls.SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == nullptr || key == INVALID_HANDLE_VALUE) {
        return -1;
    }
    wchar_t name[32] = {};
    DWORD type = 0;
    DWORD size = sizeof name - sizeof(wchar_t);
    int number = -1;
    if (win32_calls.RegQueryValueExW(key, L"PortName", nullptr, &type,
                                     reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        number = com_port_number(utf8_from(name).c_str());
    }
    const bool ftdi = starts_with(found->hardware_id, "FTDIBUS") || found->vid == 0x0403;
    DWORD ms = 0;
    size = sizeof ms;
    if (ftdi &&
        win32_calls.RegQueryValueExW(key, L"LatencyTimer", nullptr, &type,
                                     reinterpret_cast<BYTE*>(&ms), &size) == ERROR_SUCCESS &&
        type == REG_DWORD && ms <= 255) {
        found->latency_ms = static_cast<int>(ms);
    }
    win32_calls.RegCloseKey(key);
    return number;
}

// Calls `visit(number, device)` for each present device node of the Ports
// class, then of the COM-port interface, that names port COM<number>. A
// node of both classes is visited twice.
template <typename Visit>
void visit_com_devices(Visit visit) {
    const struct {
        const GUID* guid;
        DWORD flags;
    } classes[] = {{&kPortsClass, DIGCF_PRESENT},
                   {&kComPortInterface, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE}};
    for (const auto& device_class : classes) {
        const HDEVINFO set = win32_calls.SetupDiGetClassDevsW(device_class.guid, nullptr, nullptr,
                                                              device_class.flags);
        if (set == INVALID_HANDLE_VALUE) {
            continue;
        }
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD index = 0; win32_calls.SetupDiEnumDeviceInfo(set, index, &device); ++index) {
            ComPortDevice found;
            found.name = device_property(set, device, SPDRP_FRIENDLYNAME);
            found.hardware_id = device_property(set, device, SPDRP_HARDWAREID);
            found.vid = id_after(found.hardware_id, "VID_");
            found.pid = id_after(found.hardware_id, "PID_");
            found.bluetooth = starts_with(found.hardware_id, "BTHENUM");
            const int number = read_device_key(set, device, &found);
            if (number > 0) {
                visit(number, found);
            }
        }
        win32_calls.SetupDiDestroyDeviceInfoList(set);
    }
}

}  // namespace

bool com_port_device(int port, ComPortDevice* device) {
    bool found = false;
    visit_com_devices([&](int number, const ComPortDevice& node) {
        if (!found && number == port) {
            *device = node;
            found = true;
        }
    });
    return found;
}

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
    if (found.empty()) {
        const std::string com = "COM" + std::to_string(port);
        char target[1024];
        if (win32_calls.QueryDosDeviceA(com.c_str(), target, sizeof target) > 0) {
            found = target;
        }
    }
    return found;
}

// Every port the system has.
FoundPorts find_ports() {
    FoundPorts ports;
    // The device nodes and the map first: only they tell a Bluetooth port,
    // by its hardware ID or its device name.
    visit_com_devices([&](int number, const ComPortDevice& device) {
        add_port(("COM" + std::to_string(number)).c_str(),
                 device.bluetooth ? kStateBluetooth : PortInfo::kStateProbe, ports);
    });
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
