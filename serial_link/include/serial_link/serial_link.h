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
// command's last byte. A device on a cable answers within a few
// milliseconds and a USB adapter adds up to 16, but a network serial server,
// a radio link or a busy device can take most of a second; a reply later
// than this means the device has stopped listening.
inline constexpr int kReplyBoundMs = 1000;

// The line counts as quiet once no byte has come for kSettleQuietMs: longer
// than the 20 ms between a late device's sync echoes, and than the gaps of
// a babbling line. Letting the line fall quiet after discovery
// (settle_line) throws input away until it is, for kSettleLimitMs at most.
inline constexpr int kSettleQuietMs = 100;
inline constexpr int kSettleLimitMs = 1000;

// The longest single wait on the line: every longer wait is made of slices
// of at most this, and ends after the slice in which an interruption came
// (interrupt_requested, console/process.h).
inline constexpr int kWaitSliceMs = 50;

// What came from the line while no reply was due: before a command's last
// byte, after a reply, or while the line was to stay quiet.
enum class Unasked {
    kNone,   // nothing: the line is in step
    kBytes,  // bytes nobody asked for: noise, or a device out of step
    kEcho,   // the line gave back what was sent: a loopback or a local echo
};

// What a question to the device got. `reply` is empty when no byte came in
// the reply window, when something unasked came first (`unasked`), when the
// line was lost, or when an interruption came.
struct Reply {
    std::optional<std::uint8_t> reply;
    Unasked unasked = Unasked::kNone;
};

// Stores `value` in the run's exchange byte, sends that one byte and then
// pauses for at least `pause` ms. A failed send is not reported: the device
// protocol has no acknowledgement to check it by. Once the line is lost
// nothing is sent and nothing paced.
void send_byte(SerialGate& gate, std::uint8_t& exchange, std::uint8_t value, int pause);

// Reads, without waiting, every byte that has come and was not asked for.
// Called right before a command's last byte: the device answers only after
// it, so anything there is not the answer. `sent` holds the command's bytes
// sent so far (`count` of them, 0 for a one-byte command). Returns kNone
// when nothing had come; kEcho when the bytes end with the `count` bytes
// sent, count >= 1; kBytes otherwise.
Unasked take_unasked(SerialGate& gate, const std::uint8_t* sent, int count);

// Asks the device for one byte: takes the unasked input first
// (take_unasked), and sends nothing when there was some. Otherwise sends
// `command` with a 20 ms pause and waits for the reply as recv_reply does.
// A missing reply is never reported as a byte value: the exchange byte then
// still holds `command`, but `reply` is empty.
Reply query_byte(SerialGate& gate, std::uint8_t& exchange, std::uint8_t command);

// Waits up to kReplyBoundMs for one byte, reading it into the exchange byte:
// the reply. When none came, the line must then stay quiet for as long again
// (stay_quiet), so that a late reply cannot answer the next question: a
// byte that comes then makes `unasked` kBytes. Returns early, with no reply,
// when the line is lost or an interruption comes. Sleeps while it waits.
Reply recv_reply(SerialGate& gate, std::uint8_t& exchange);

// Waits `ms` for the line to stay quiet, which confirms the reply before
// it. Returns kNone when no byte came; kBytes, having read what had come,
// when one did. Returns kNone early when the line is lost or an
// interruption comes: the caller asks for those.
Unasked stay_quiet(SerialGate& gate, int ms);

// Reads and throws away input until none has come for kSettleQuietMs, after
// discovery's sync: while fewer than `owed_echoes` sync echoes (FF) have
// come, the line is waited on up to the limit instead, so that a device held
// up for a moment cannot leave an echo to answer the first question.
// Returns true when the line fell quiet; false when it did not within
// kSettleLimitMs (a babbling line), and early when the line is lost or an
// interruption comes.
bool settle_line(SerialGate& gate, int owed_echoes);

// When `unasked` is not kNone, prints why the run stops and returns true:
// kEcho: "\nError: the line echoes what is sent (a loopback plug, or an
// adapter with local echo)."; kBytes: "\nError: bytes came that answer no
// question (line noise, or a device answering late or twice).". The runs
// then end with exit status 1, without a key prompt, having sent nothing
// more than the command in flight.
bool report_unasked(Unasked unasked);

// True when the line to the device is lost (SerialGate::LineLost); then also
// prints "\nError: the line to the device was lost.". The runs ask it after
// each command and end with exit status 1, without a key prompt, when it is
// true.
bool report_line_lost(SerialGate& gate);

// Finds the device: walks the port list, probing each port whose state byte
// is 1 with the sync handshake, and stops at the first port that echoes and
// then falls quiet (settle_line), so that a late echo is not taken for the
// answer to the first question. Prints "\nWait sync ...", one "." per echo,
// then "found on COM<n> ok."; for a port that echoed but never fell quiet,
// "COM<n> is noisy, not the device.\nWait sync ..." and the scan goes on;
// "error - not responding\n" when no port answered.
//
// Returns the port number with that port left open, or -1 with no port
// open. Also -1, with no port open and nothing more printed, when an
// interruption came (interrupt_requested): the run ends on it.
int find_device(SerialGate& gate);
