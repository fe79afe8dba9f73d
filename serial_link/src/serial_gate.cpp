// What SerialGate is on every platform: its life cycle and the port list
// record. The platform files give the port list, Open, Close, Send, Recv,
// WaitForInput and LineLost.
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
    if (info != nullptr) {
        fill_port_list(*paths_, info);
    }
}
