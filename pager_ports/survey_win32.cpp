// What Windows can tell about a COM port without opening it: its device
// name in the serial-port map (SERIALCOMM) or its DOS device's target.
#include <windows.h>

#include <string>
#include <vector>

#include "serial_link/serial_map.h"
#include "survey.h"

namespace {

// What the DOS device `com` leads to ("\Device\Serial0"), or "".
std::string dos_device_target(const std::string& com) {
    char target[1024];
    const DWORD length = QueryDosDeviceA(com.c_str(), target, sizeof target);
    return length > 0 ? std::string(target) : std::string();
}

// Where FTDI's driver keeps its devices: one key per adapter, one subkey per
// instance, each with its "Device Parameters".
const char kFtdiBus[] = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";

std::vector<std::string> subkeys(const std::string& path) {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return names;
    }
    char name[256];
    DWORD length = sizeof name;
    for (DWORD i = 0;
         RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = sizeof name) {
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

// The COM numbers above this cannot be held by the port list.
constexpr int kLastListedPort = 255;

}  // namespace

int latency_timer_ms(const PortPaths& /*paths*/, const PortEntry& entry) {
    const std::string com = "COM" + std::to_string(entry.port);
    for (const std::string& device : subkeys(kFtdiBus)) {
        for (const std::string& instance : subkeys(std::string(kFtdiBus) + "\\" + device)) {
            const std::string params =
                std::string(kFtdiBus) + "\\" + device + "\\" + instance + "\\Device Parameters";
            char port_name[32];
            DWORD size = sizeof port_name;
            if (RegGetValueA(HKEY_LOCAL_MACHINE, params.c_str(), "PortName", RRF_RT_REG_SZ, nullptr,
                             port_name, &size) != ERROR_SUCCESS ||
                com != port_name) {
                continue;
            }
            DWORD ms = 0;
            size = sizeof ms;
            const bool read = RegGetValueA(HKEY_LOCAL_MACHINE, params.c_str(), "LatencyTimer",
                                           RRF_RT_REG_DWORD, nullptr, &ms, &size) == ERROR_SUCCESS;
            return read && ms <= 255 ? static_cast<int>(ms) : -1;
        }
    }
    return -1;
}

void describe_port(const PortPaths& /*paths*/, PortEntry* entry) {
    const std::string com = "COM" + std::to_string(entry->port);
    entry->device = serial_map_device(entry->port);
    if (entry->device.empty()) {
        entry->device = dos_device_target(com);
    }
    if (entry->port > kLastListedPort) {
        entry->state_note = "above COM255";
    } else if (entry->state != PortInfo::kStateProbe) {
        entry->state_note =
            serial_map_state(entry->device.c_str()) == kStateBluetooth ? "Bluetooth" : "not probed";
    }
}

void add_unlisted_ports(Survey* survey) {
    for (const int port : com_ports_past_list()) {
        PortEntry entry;
        entry.port = port;
        describe_port(PortPaths{}, &entry);
        survey->ports.push_back(entry);
    }
}

void find_holders(PortEntry* /*entry*/) {
    // Windows does not say which program has a port open.
}

std::string system_error_text(int error) {
    char text[512];
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == '.' || text[length - 1] == ' ')) {
        --length;
    }
    if (length == 0) {
        return "system error " + std::to_string(error);
    }
    return std::string(text, length);
}

bool error_means_in_use(int error) {
    // A COM port is opened for exclusive use: another program's open makes
    // ours fail with access denied.
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

bool error_means_permission(int /*error*/) {
    return false;
}

void add_system_hints(const PortPaths& /*paths*/, const Survey& survey,
                      std::vector<std::string>* hints) {
    for (const PortEntry& entry : survey.ports) {
        if (entry.port > kLastListedPort) {
            hints->push_back("COM" + std::to_string(entry.port) +
                             " has a number above 255, which the programs cannot try: give it a "
                             "free number up to 255 in Device Manager (the port's Properties, "
                             "Port Settings, Advanced, COM Port Number).");
        }
    }
    if (survey.ports.empty()) {
        hints->push_back(
            "No COM port at all: plug the adapter in and look in Device Manager under \"Ports "
            "(COM & LPT)\"; a yellow mark there means its driver is missing.");
    }
    // The programs cannot change FTDI's timer on Windows; each entry check
    // of brisko's erase waits for it.
    for (const PortEntry& entry : survey.ports) {
        if (entry.latency_ms > 1) {
            hints->push_back("COM" + std::to_string(entry.port) + " is an FTDI adapter whose " +
                             "latency timer holds each reply up to " +
                             std::to_string(entry.latency_ms) +
                             " ms, which makes brisko's erase slower: in Device Manager, the "
                             "port's Properties, Port Settings, Advanced, set Latency Timer "
                             "(msec) to 1.");
        }
    }
}
