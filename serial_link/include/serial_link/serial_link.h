// The device link: the serial port, the device's one-byte command set with
// its pacing, and finding the device on the machine's ports.
#pragma once

#include <cstdint>
#include <optional>

#include "serial_link/serial_gate.h"

// Command bytes. Every command is sent by the host; the bytes that follow it
// and the reply it gets are noted beside it.
inline constexpr std::uint8_t CMD_SYNC = 0xFF;                // reply: FF (echo)
inline constexpr std::uint8_t CMD_SET_PAGER = 0xF5;           // + value
inline constexpr std::uint8_t CMD_GET_PAGER = 0xF6;           // reply: pager
inline constexpr std::uint8_t CMD_SET_TABLE = 0xF7;           // + value
inline constexpr std::uint8_t CMD_GET_TABLE = 0xF8;           // reply: table
inline constexpr std::uint8_t CMD_SET_PAGER_TO_TABLE = 0xF9;  // + value
inline constexpr std::uint8_t CMD_GET_PAGER_TO_TABLE = 0xFA;  // reply: pager_to_table
inline constexpr std::uint8_t CMD_CLEAR_ENTRY = 0xF0;         // + table, entry, 00
inline constexpr std::uint8_t CMD_CHECK_ENTRY = 0xF1;         // + table, entry; reply: 00 if clear

// Pauses the protocol prescribes after a byte, in ms.
inline constexpr int kPauseShortMs = 10;
inline constexpr int kPauseLongMs = 20;

// Sleeps for at least `ms` milliseconds, measured on a steady clock. Never
// returns early, whatever the system's timer does.
void pause_ms(int ms);

// The steady clock pause_ms measures with, in microseconds from an
// unspecified start. The waits for replies measure their bounds on it.
std::int64_t steady_us();

// Stores `value` in the run's exchange byte, sends that one byte and then
// pauses for at least `pause` ms. A failed send is not reported: the device
// protocol has no acknowledgement to check it by.
void send_byte(SerialGate& gate, std::uint8_t& exchange, std::uint8_t value, int pause);

// Asks the device for one byte: drops any stale input, sends `command` with a
// 20 ms pause, then reads one reply into the exchange byte.
//
// Returns the reply, or std::nullopt when no byte came within
// SerialGate::kRecvWaitMs. A missing reply is never reported as a byte value:
// the exchange byte then still holds `command`, but the result is empty.
std::optional<std::uint8_t> query_byte(SerialGate& gate, std::uint8_t& exchange,
                                       std::uint8_t command);

// Waits up to `bound_ms` for one byte, reading it into the exchange byte.
// Returns it, or std::nullopt when the bound passed first. Sleeps between
// reads, so a silent or vanished device costs no CPU.
std::optional<std::uint8_t> recv_reply(SerialGate& gate, std::uint8_t& exchange, int bound_ms);

// Finds the device: walks the port list, probing each port whose state byte
// is 1 with the sync handshake, and stops at the first port that echoes.
// Prints "\nWait sync ...", one "." per echo, then "found on COM<n> ok.", or
// "error - not responding\n" when no port answered.
//
// Returns the port number with that port left open, or -1 with no port open.
int find_device(SerialGate& gate);
