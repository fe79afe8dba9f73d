#include "simulator/wire_log.h"

#include <cstdio>
#include <sstream>

std::string format_wire_event(const WireEvent& event) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f %s %02X", event.ms, event.sent ? "tx" : "rx",
                  event.byte);
    return std::string(text) + (event.port.empty() ? "" : " " + event.port) + "\n";
}

std::vector<WireEvent> parse_wire_log(const std::string& text) {
    std::vector<WireEvent> events;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        WireEvent event;
        std::string direction;
        unsigned byte = 0;
        if (!(fields >> event.ms >> direction >> std::hex >> byte) || byte > 0xFF ||
            (direction != "rx" && direction != "tx")) {
            continue;
        }
        event.sent = direction == "tx";
        event.byte = static_cast<std::uint8_t>(byte);
        fields >> event.port;
        events.push_back(event);
    }
    return events;
}
