// What Windows can tell about a COM port without opening it: its device
// name in the serial-port map (SERIALCOMM) or its DOS device's target, and
// its device node's name, USB IDs and FTDI latency timer.
#include <windows.h>

#include <string>
#include <vector>

#include "serial_link/serial_map.h"
#include "survey.h"

namespace {

// The COM numbers above this cannot be held by the port list.
constexpr int kLastListedPort = 255;

}  // namespace

int latency_timer_ms(const PortPaths& /*paths*/, const PortEntry& entry) {
    ComPortDevice device;
    return com_port_device(entry.port, &device) ? device.latency_ms : -1;
}

void describe_port(const PortPaths& /*paths*/, PortEntry* entry) {
    entry->device = serial_map_device(entry->port);
    ComPortDevice node;
    if (com_port_device(entry->port, &node)) {
        entry->name = node.name;
        entry->vid = node.vid;
        entry->pid = node.pid;
    }
    if (entry->port > kLastListedPort) {
        entry->state_note = "above COM255";
    } else if (entry->state == kStateBluetooth) {
        entry->state_note = "Bluetooth";
    } else if (entry->state != PortInfo::kStateProbe) {
        entry->state_note = "not probed";
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
    // In the user's language, as UTF-8: the ANSI code page cannot hold every
    // language's letters.
    wchar_t text[512];
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, text, sizeof text / sizeof text[0], nullptr);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                          text[length - 1] == L'.' || text[length - 1] == L' ')) {
        --length;
    }
    const int size = length == 0 ? 0
                                 : WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length),
                                                       nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return "system error " + std::to_string(error);
    }
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                        nullptr);
    return out;
}

std::string in_use_text(int error) {
    // A COM port is opened for exclusive use: another program's open makes
    // ours fail with a sharing violation or access denied; a driver in a bad
    // state refuses with access denied too.
    if (error == ERROR_SHARING_VIOLATION) {
        return "in use by another program";
    }
    return error == ERROR_ACCESS_DENIED ? "in use by another program, or refused by its driver"
                                        : "";
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
    for (const PortEntry& entry : survey.ports) {
        if (entry.problem == in_use_text(ERROR_ACCESS_DENIED)) {
            hints->push_back("COM" + std::to_string(entry.port) +
                             " refused access: close the program that has it open (a terminal, "
                             "an IDE's serial monitor, a phone or modem tool); if none has, "
                             "unplug the adapter and plug it in again, since its driver may be "
                             "in a bad state.");
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
