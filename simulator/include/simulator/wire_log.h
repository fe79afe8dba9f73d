// The line log: every byte on the simulated line, one per line of text,
// written by the pty device and read back by the tests and the benchmark.
//
//   <ms since start, 3 decimals> rx|tx <HEX>[ <port>]
//
// rx is a byte the device received from the program, tx one it sent; a byte on
// a silent port ends in that port's name (" ttyUSB0"), the device's own bytes
// carry no name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One byte on the line, seen from the device.
struct WireEvent {
    double ms = 0;      // steady-clock time since the device started
    bool sent = false;  // false: received from the host; true: sent by the device
    std::uint8_t byte = 0;
    std::string port;  // "" for the device, the silent port's name otherwise
};

// The log line of `event`, with its line feed.
std::string format_wire_event(const WireEvent& event);

// The events of a whole log, in order. Lines that are not log lines are
// skipped.
std::vector<WireEvent> parse_wire_log(const std::string& text);
