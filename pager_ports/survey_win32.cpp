// What Windows can tell about a COM port without opening it: its device
// name in the serial-port map (SERIALCOMM) or its DOS device's target.
#include <windows.h>

#include <string>

#include "serial_link/port_survey.h"
#include "survey.h"

namespace {

// What the DOS device `com` leads to ("\Device\Serial0"), or "".
std::string dos_device_target(const std::string& com) {
    char target[1024];
    const DWORD length = QueryDosDeviceA(com.c_str(), target, sizeof target);
    return length > 0 ? std::string(target) : std::string();
}

// The COM numbers above this cannot be held by the port list.
constexpr int kLastListedPort = 255;

}  // namespace

void describe_port(const PortPaths& /*paths*/, PortEntry* entry) {
    const std::string com = "COM" + std::to_string(entry->port);
    entry->device = serial_map_device(entry->port);
    if (entry->device.empty()) {
        entry->device = dos_device_target(com);
    }
    if (entry->port > kLastListedPort) {
        entry->state_note = "above COM255";
    } else if (entry->state != 1) {
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
}
