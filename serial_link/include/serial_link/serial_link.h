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
// unspecified start. Letting the line fall quiet (settle_line) measures its
// limit on it.
std::int64_t steady_us();

// How long a reply is waited for: the reply to a query (F6, F8, FA) and the
// reply to an entry check, counted from the end of the pause after the
// command's last byte. The device answers within a few milliseconds, a USB
// adapter adds up to 16; a reply later than this means the device is busy
// elsewhere or has stopped listening, and it is then no longer taken.
inline constexpr int kReplyBoundMs = 300;

// How the line is let fall quiet (settle_line): input is read and thrown away
// until none has come for kSettleQuietMs, or for kSettleLimitMs at most.
// The quiet time outlasts the 20 ms between a late device's sync echoes.
inline constexpr int kSettleQuietMs = 100;
inline constexpr int kSettleLimitMs = 1000;

// Stores `value` in the run's exchange byte, sends that one byte and then
// pauses for at least `pause` ms. A failed send is not reported: the device
// protocol has no acknowledgement to check it by. Once the line is lost
// nothing is sent and nothing paced.
void send_byte(SerialGate& gate, std::uint8_t& exchange, std::uint8_t value, int pause);

// Asks the device for one byte: drops any input that came before the
// question, sends `command` with a 20 ms pause, then waits for the reply as
// recv_reply does.
//
// Returns the reply, or std::nullopt when none came within kReplyBoundMs or
// the line was lost. A missing reply is never reported as a byte value: the
// exchange byte then still holds `command`, but the result is empty.
std::optional<std::uint8_t> query_byte(SerialGate& gate, std::uint8_t& exchange,
                                       std::uint8_t command);

// Waits up to kReplyBoundMs for one byte, reading it into the exchange byte,
// and returns it. When none came in time, lets the line fall quiet
// (settle_line), so that the late reply cannot answer the next question, and
// returns std::nullopt; also when the line is lost. Sleeps while it waits.
std::optional<std::uint8_t> recv_reply(SerialGate& gate, std::uint8_t& exchange);

// Reads and throws away input until none has come for kSettleQuietMs, or
// kSettleLimitMs have passed, or the line is lost.
void settle_line(SerialGate& gate);

// True when the line to the device is lost (SerialGate::LineLost); then also
// prints "\nError: the line to the device was lost.". The runs ask it after
// each command and end with exit status 1, without a key prompt, when it is
// true.
bool line_lost(SerialGate& gate);

// Finds the device: walks the port list, probing each port whose state byte
// is 1 with the sync handshake, and stops at the first port that echoes.
// Prints "\nWait sync ...", one "." per echo, then "found on COM<n> ok.", or
// "error - not responding\n" when no port answered. Then lets the found
// port's line fall quiet (settle_line), so that a late echo is not taken for
// the answer to the first question.
//
// Returns the port number with that port left open, or -1 with no port open.
int find_device(SerialGate& gate);
