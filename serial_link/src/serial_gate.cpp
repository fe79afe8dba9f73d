// What SerialGate is on every platform: its life cycle, the port list
// record and the choice of one port. The platform files give the port list,
// Open, Close, Send, Recv, WaitForInput and LineLost.
#include <cstring>

#include "port_list.h"
#include "serial_link/port_paths.h"
#include "serial_link/serial_gate.h"

void PortInfo::clear() {
    std::memset(bytes, 0, sizeof bytes);
}

bool PortInfo::append(int port, int state) {
    const int n = count();
    if (n >= kMaxEntries) {
        return false;
    }
    bytes[2 * n] = static_cast<std::uint8_t>(port);
    bytes[2 * n + 1] = static_cast<std::uint8_t>(state);
    bytes[kCountOffset] = static_cast<std::uint8_t>(n + 1);
    return true;
}

SerialGate::SerialGate() : paths_(std::make_unique<const PortPaths>()) {}

SerialGate::~SerialGate() {
    Close();
}

void SerialGate::GetPortsInfo(PortInfo* info) {
    if (info == nullptr) {
        return;
    }
    fill_port_list(*paths_, info);
    if (chosen_port_ == kDevicePathPort) {
        info->clear();
        info->append(kDevicePathPort, PortInfo::kStateProbe);
    } else if (chosen_port_ >= 0) {
        const PortInfo all = *info;
        info->clear();
        for (int i = 0; i < all.count(); ++i) {
            if (all.port(i) == chosen_port_) {
                info->append(all.port(i), all.state(i));
            }
        }
    }
}

void SerialGate::ChoosePort(const PortChoice& choice) {
    PortPaths paths = *paths_;
    paths.chosen_device.clear();
    chosen_port_ = choice.port;
    if (!choice.device.empty()) {
        chosen_port_ = listed_port_of(paths, choice.device);
        if (chosen_port_ < 0) {
            chosen_port_ = kDevicePathPort;
            paths.chosen_device = choice.device;
        }
    }
    paths_ = std::make_unique<const PortPaths>(paths);
}

std::string SerialGate::Identify(int port) const {
    return port_identity(*paths_, port);
}

int com_number(const char* text) {
    if ((text[0] != 'C' && text[0] != 'c') || (text[1] != 'O' && text[1] != 'o') ||
        (text[2] != 'M' && text[2] != 'm') || text[3] < '1' || text[3] > '9') {
        return -1;
    }
    int number = 0;
    for (const char* digit = text + 3; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9' || number > PortInfo::kMaxEntries) {
            return -1;
        }
        number = number * 10 + (*digit - '0');
    }
    return number <= PortInfo::kMaxEntries ? number : -1;
}
