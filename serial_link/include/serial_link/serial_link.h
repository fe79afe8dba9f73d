// The device link: the serial port, the device's one-byte command set with
// its pacing, the one frame every command goes out in, why a run stops, and
// finding the device on the machine's ports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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
// unspecified start. Every wait on the line is bounded on it.
std::int64_t steady_us();

// How long a reply is waited for: the reply to a query (F6, F8, FA) and the
// reply to an entry check, counted from the end of the pause after the
// command's last byte. A device on a cable answers within a few
// milliseconds and a USB adapter adds up to 16, but a network serial server,
// a radio link or a busy device can take most of a second; a reply later
// than this means the device has stopped listening.
inline constexpr int kReplyBoundMs = 1000;

// After a reply that did not come within kReplyBoundMs, the line must stay
// quiet this long: a reply that was only late must not answer the next
// question. A byte that comes then stops the run.
inline constexpr int kLateReplyWindowMs = 1000;

// A reply is in step with the device when it comes no later than this after
// the latest a reply of the device came so far in the run (its sync echoes
// count as immediate): a USB adapter's latency timer holds bytes up to
// 40 ms. A reply later than that may be noise on a line whose device has
// stopped answering: it counts only once the line then stayed quiet for
// kOutOfStepQuietMs, longer than a question waits for its reply and then for
// a late one, and then sets the device's latest. The same quiet confirms
// what a whole pass rests on (brisko's geometry, its last marks), since a
// line whose device has just stopped may give a byte in step by chance.
inline constexpr int kInStepSlackMs = 20;
inline constexpr int kOutOfStepQuietMs = 2000;

// A reply counts once the line stayed quiet this long after it: a doubled
// reply, an echo or noise shows itself within it.
inline constexpr int kConfirmQuietMs = 100;

// The line counts as settled after discovery's sync once no byte has come
// for kSettleQuietMs: longer than the 20 ms between a late device's sync
// echoes, and than the gaps of a babbling line. It must settle within
// kSettleLimitMs.
inline constexpr int kSettleQuietMs = 100;
inline constexpr int kSettleLimitMs = 1000;

// The longest single wait on the line: every longer wait is made of slices
// of at most this, and ends after the slice in which an interruption came
// (interrupt_requested, console/process.h).
inline constexpr int kWaitSliceMs = 50;

// The largest table memory a device can have: vantel writes at most 99
// tables of 250 entries. A larger report comes from something else (a line
// giving back its own questions, noise), and erasing by it would cost hours
// for nothing.
inline constexpr unsigned kMostTables = 99;
inline constexpr unsigned kMostEntries = 250;

// Where in a run something happened, for telling the user where bytes came
// that nobody asked for. Table numbers and entry indexes are as on the
// wire: tables from 1, entries from 0.
struct Step {
    enum Kind : std::uint8_t {
        kSync,              // discovery's sync and settle
        kSetter,            // a setter, `command`: its value byte
        kQuery,             // a query, `command`, and its reply
        kClear,             // the clear of `table`, `entry`
        kCheck,             // the check of `table`, `entry`, and its reply
        kBeforeFirstClear,  // the quiet that confirms the geometry
        kAfterLastCheck,    // the quiet that confirms the last check
    };
    Kind kind = kSync;
    std::uint8_t command = 0;
    unsigned table = 0;
    unsigned entry = 0;
    // The bytes came after the step was done, not while it was under way.
    bool after = false;
};

// Why a run stops before its end. Every way out the device link can find is
// one of these; the runs print it in one place (say_stop) and end with
// stop_status.
struct Stop {
    enum Reason : std::uint8_t {
        kNone,              // the run goes on
        kNoDevice,          // no port answered the sync (discovery said so)
        kInterrupted,       // Ctrl+C or a termination signal, between two commands
        kLineLost,          // the line to the device went away
        kNotSent,           // the line did not take a byte: the command is broken off
        kEcho,              // the line gives back what is sent
        kUnasked,           // bytes came that answer no question
        kStoppedAnswering,  // brisko: kSilentChecksToStop checks in a row got no reply
        kNoGeometry,        // brisko: a geometry query got no reply
        kNoTableSize,       // brisko: a geometry beyond any device's table memory
        kSettingsChanged,   // another program changed the port's line settings
        kShared,            // another program had the port open during the run
    };
    // The last kKept unasked bytes are kept, oldest first.
    static constexpr int kKept = 4;

    Stop() = default;
    explicit Stop(Reason why) : reason(why) {}

    Reason reason = kNone;
    // kEcho, kUnasked: how many bytes came, the last of them, and where.
    int count = 0;
    std::uint8_t last[kKept] = {};
    Step step;
    // kNoTableSize: what the device reported.
    unsigned tables = 0;
    unsigned entries = 0;
    // kShared: the program, as the system names it.
    int pid = 0;
    std::string program;

    explicit operator bool() const { return reason != kNone; }
};

// The message a stop prints, "" for kNone, kNoDevice and kInterrupted, whose
// words (if any) are printed where they happen:
//   kLineLost  "\nError: the line to the device was lost."
//   kNotSent   "\nError: the line did not take a byte sent to the device (its
//              output is stopped, or its driver failed)."
//   kEcho      "\nError: the line echoes what is sent (a loopback plug, or an
//              adapter with local echo): <what came>."
//   kUnasked   "\nError: bytes came that answer no question (line noise, or a
//              device answering late or twice): <what came>."
//   kStoppedAnswering  "\nError: the device stopped answering."
//   kNoGeometry        "\nError: the device did not report its table size."
//   kNoTableSize       "\nError: the device reported <t> tables of <e>
//                      entries, not a table size (at most 99 tables of 250
//                      entries)."
//   kSettingsChanged   "\nError: another program changed the port's settings
//                      during the run; nothing more was sent."
//   kShared            "\nError: another program had the port open during the
//                      run, so its replies cannot be trusted: <name> (PID
//                      <pid>)." with the name's unprintable bytes as "?".
// <what came> is "<n> byte(s), last <hex bytes>, <step>", with the step as
// step_text gives it: "2 bytes, last 5A 5A, at the check of table 2, entry 7".
std::string stop_message(const Stop& stop);

// Where `step` is, as the stop messages say it. While it is under way: "at
// the value of the table setter", "at the reply to F8", "at the clear of
// table 1, entry 0", "at the check of table 2, entry 7"; after it: "after
// the sync", "after the table setter", "after the reply to F8"; and "before
// the first clear", "after the last check".
std::string step_text(const Step& step);

// Prints stop_message(stop) (say, console/console.h) when there is one.
void say_stop(const Stop& stop);

// The exit status a run ends with on `stop`: 0 for kNone, 1 for any other.
int stop_status(const Stop& stop);

// The most bytes a command has.
inline constexpr int kMaxCommandBytes = 4;

// A command as it goes on the wire: its bytes, each followed by `pause` ms,
// the last by `last_pause` ms.
struct Command {
    std::uint8_t bytes[kMaxCommandBytes] = {};
    int count = 0;
    int pause = kPauseLongMs;
    int last_pause = kPauseLongMs;
    Step step;
};

// The commands of the device, paced as the device needs them.
Command setter(std::uint8_t command, std::uint8_t value);  // 20 ms, 20 ms
Command query(std::uint8_t command);                       // 20 ms, then the reply
Command clear_entry(unsigned table, unsigned entry);       // 10, 10, 10, 20 ms
Command check_entry(unsigned table, unsigned entry);       // 10, 10, 10 ms, then the reply

// One run's hold on the device: its port and its exchange byte, through
// which every byte it sends and every reply it reads passes, and the step
// it last went through.
struct Link {
    explicit Link(SerialGate& port) : gate(port) {}

    SerialGate& gate;
    std::uint8_t exchange = 0;
    Step last_step;
    // The latest, from the end of a question's pause, that a reply of the
    // device came so far in the run, in microseconds.
    std::int64_t latest_reply_us = 0;
};

// Sends `command` as one frame, the same for every command:
//  1. nothing at all when an interruption has come (kInterrupted), or when
//     the port's settings are no longer the ones Open set (kSettingsChanged);
//  2. every byte but the last, each with its pause;
//  3. right before the last byte, every byte that has come is read: the
//     device answers only after the whole command, so anything there is
//     unasked (kUnasked; kEcho when it ends with the bytes just sent). A
//     command already under way still goes out whole, then the run stops;
//     a one-byte command is not sent at all. The stop's step is the command
//     (for a one-byte command, the step before it: the bytes came after
//     that);
//  4. the last byte with its pause.
// A byte the line does not take ends the frame at once: kLineLost when the
// line is gone, kInterrupted when an interruption ended the wait for it,
// kNotSent otherwise; nothing more goes out. Returns kNone when
// the command went out whole with nothing unasked.
Stop send_command(Link& link, const Command& command);

// What a question to the device got: its reply, or none within the bound.
struct Answer {
    std::optional<std::uint8_t> reply;
};

// Waits up to kReplyBoundMs for the reply to the command just sent, and
// reads it into the exchange byte. When none came, the line must then stay
// quiet for kLateReplyWindowMs, or the run stops (kUnasked): a late reply
// must not answer the next question. A reply out of step with the device
// (kInStepSlackMs) must be followed by kOutOfStepQuietMs of quiet, or the
// run stops the same way. Also stops on a lost line and an interruption.
Stop await_reply(Link& link, Answer* answer);

// Waits `ms` for the line to stay quiet, which confirms the reply before it;
// a byte that comes stops the run (kUnasked at `step`). Also stops on a lost
// line and an interruption.
Stop confirm_quiet(Link& link, const Step& step, int ms = kConfirmQuietMs);

// Asks the device: send_command, then await_reply. The reply counts once it
// is confirmed: by confirm_quiet, or by the next command's look before its
// last byte.
Stop ask(Link& link, const Command& command, Answer* answer);

// The sync handshake on the open port of `gate`, as discovery and pager-ports
// both do it (serial_link/sync_probe.h). Finds the device: walks the port
// list, probing each port whose state byte is 1, and stops at the first
// port that echoes and then falls quiet, so that a late echo is not taken
// for the answer to the first question. Prints "\nWait sync ...", one "."
// per echo, then "found on COM<n> ok."; for a port that echoed but never fell
// quiet, "COM<n> is noisy, not the device.\nWait sync ..." and the scan goes
// on; "error - not responding\n" when no port answered.
//
// Returns the port number with that port left open, or -1 with no port
// open. Also -1, with no port open and nothing more printed, when an
// interruption came (interrupt_requested): the run ends on it.
int find_device(SerialGate& gate);

// Discovery as a step of a run: kNone with the device's port open, or
// kNoDevice / kInterrupted. Sets `link.last_step` to the sync.
Stop find_device(Link& link);

// The last look of a run, before its result: kShared, naming the first,
// when another program has the port open now (it may have read replies meant
// for this run, or written its own); kNone otherwise.
Stop check_not_shared(Link& link);
