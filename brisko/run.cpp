// The table eraser's run: find the device, clear every entry of its table
// memory and check every entry afterwards.
#include "run.h"

#include <cstdint>
#include <optional>

#include "console/console.h"
#include "serial_link/interruption.h"
#include "serial_link/serial_link.h"

namespace {

// Once this many entry checks in a row got no reply, the device has stopped
// listening: going on would cost a reply bound and an "e" per entry, hours
// on a large table memory.
constexpr int kSilentChecksToStop = 16;

// The largest table memory a device can have: vantel writes at most 99
// tables of 250 entries. A larger report comes from something else (a line
// giving back its own questions, noise), and erasing by it would cost hours
// for nothing.
constexpr unsigned kMostTables = 99;
constexpr unsigned kMostEntries = 250;

// The size of the device's table memory, as the device reports it.
struct DeviceGeometry {
    unsigned tables;   // table numbers on the wire run 1..tables
    unsigned entries;  // entry indexes on the wire run 0..entries-1
};

// What asking for the geometry got: the replies to F6, F8 and FA, and what
// came besides them.
struct GeometryReplies {
    std::optional<std::uint8_t> replies[3];
    Unasked unasked = Unasked::kNone;
};

// Asks the device for its geometry. The pager setting is asked first, as the
// device expects, and its reply is not used. A question that got no reply
// ends the asking: a later reply could be its late one. The line must then
// stay quiet: until it has, no reply is trusted. Replies that are each their
// own question, or a first reply that is its question with bytes after it,
// are an echo of what was sent.
GeometryReplies read_geometry(SerialGate& gate, std::uint8_t& exchange) {
    const std::uint8_t questions[3] = {CMD_GET_PAGER, CMD_GET_TABLE, CMD_GET_PAGER_TO_TABLE};
    GeometryReplies got;
    bool each_its_question = true;
    for (int i = 0; i < 3 && got.unasked == Unasked::kNone && (i == 0 || got.replies[i - 1]); ++i) {
        close_and_end_if_interrupted(gate);
        const Reply answer = query_byte(gate, exchange, questions[i]);
        close_and_end_if_interrupted(gate);
        got.replies[i] = answer.reply;
        got.unasked = answer.unasked;
        each_its_question = each_its_question && answer.reply == questions[i];
    }
    if (got.unasked == Unasked::kNone && got.replies[2]) {
        got.unasked = stay_quiet(gate, kSettleQuietMs);
        close_and_end_if_interrupted(gate);
    }
    if (each_its_question || (got.unasked != Unasked::kNone && got.replies[0] == questions[0])) {
        got.unasked = Unasked::kEcho;
    }
    return got;
}

// Sends the clear command for every entry, table by table, with a "." each.
// Nothing is due from the device meanwhile: a byte that came by a clear's
// last byte is unasked, and the run stops once that clear is whole. Returns
// false, printing why, then or when the line was lost; a clear that did not
// go out gets no dot.
bool clear_entries(SerialGate& gate, std::uint8_t& exchange, const DeviceGeometry& geometry) {
    for (unsigned t = 0; t < geometry.tables; ++t) {
        for (unsigned e = 0; e < geometry.entries; ++e) {
            close_and_end_if_interrupted(gate);
            const std::uint8_t command[3] = {CMD_CLEAR_ENTRY, static_cast<std::uint8_t>(t + 1),
                                             static_cast<std::uint8_t>(e)};
            for (std::uint8_t byte : command) {
                send_byte(gate, exchange, byte, kPauseShortMs);
            }
            const Unasked unasked = take_unasked(gate, command, 3);
            send_byte(gate, exchange, 0x00, kPauseLongMs);
            if (report_line_lost(gate) || report_unasked(unasked)) {
                return false;
            }
            say(".");
        }
    }
    return true;
}

// Checks every entry in the same order, printing "." for a clear entry and
// "e" for one that is not clear or got no reply. A reply's mark is printed
// only once the line has stayed quiet after it: up to the next check's last
// byte, and for the last entry a quiet window of its own. Returns the number
// of e's, or std::nullopt, printing why, when the line was lost or out of
// step or the device stopped answering.
std::optional<int> check_entries(SerialGate& gate, std::uint8_t& exchange,
                                 const DeviceGeometry& geometry) {
    int errors = 0;
    int silent_in_a_row = 0;
    const char* unconfirmed = "";
    for (unsigned t = 0; t < geometry.tables; ++t) {
        for (unsigned e = 0; e < geometry.entries; ++e) {
            close_and_end_if_interrupted(gate);
            const std::uint8_t command[2] = {CMD_CHECK_ENTRY, static_cast<std::uint8_t>(t + 1)};
            for (std::uint8_t byte : command) {
                send_byte(gate, exchange, byte, kPauseShortMs);
            }
            // The device answers only after the whole command: whatever came
            // before its last byte is not this entry's reply.
            const Unasked unasked = take_unasked(gate, command, 2);
            send_byte(gate, exchange, static_cast<std::uint8_t>(e), kPauseShortMs);
            if (report_line_lost(gate) || report_unasked(unasked)) {
                return std::nullopt;
            }
            say("%s", unconfirmed);
            const Reply answer = recv_reply(gate, exchange);
            close_and_end_if_interrupted(gate);
            if (report_line_lost(gate) || report_unasked(answer.unasked)) {
                return std::nullopt;
            }
            silent_in_a_row = answer.reply ? 0 : silent_in_a_row + 1;
            const bool clear = answer.reply == std::uint8_t{0};
            errors += clear ? 0 : 1;
            // No reply is confirmed by the quiet that followed it already.
            unconfirmed = clear ? "." : "e";
            if (!answer.reply) {
                say("%s", unconfirmed);
                unconfirmed = "";
            }
            if (silent_in_a_row == kSilentChecksToStop) {
                say("\nError: the device stopped answering.");
                return std::nullopt;
            }
            pause_ms(kPauseShortMs);
        }
    }
    const Unasked unasked = *unconfirmed ? stay_quiet(gate, kSettleQuietMs) : Unasked::kNone;
    close_and_end_if_interrupted(gate);
    if (report_line_lost(gate) || report_unasked(unasked)) {
        return std::nullopt;
    }
    say("%s", unconfirmed);
    return errors;
}

}  // namespace

int run_brisko() {
    SerialGate gate;
    if (find_device(gate) < 0) {
        close_and_end_if_interrupted(gate);
        return 1;
    }

    say("\n\nErase");
    std::uint8_t exchange = 0;
    const GeometryReplies got = read_geometry(gate, exchange);
    if (report_line_lost(gate) || report_unasked(got.unasked)) {
        return 1;
    }
    if (!got.replies[1] || !got.replies[2]) {
        say("\nError: the device did not report its table size.");
        return 1;
    }
    const DeviceGeometry geometry{*got.replies[1], *got.replies[2]};
    if (geometry.tables > kMostTables || geometry.entries > kMostEntries) {
        say("\nError: the device reported %u tables of %u entries, not a table size (at most "
            "%u tables of %u entries).",
            geometry.tables, geometry.entries, kMostTables, kMostEntries);
        return 1;
    }
    if (!clear_entries(gate, exchange, geometry)) {
        return 1;
    }

    say("\nVerify");
    const std::optional<int> errors = check_entries(gate, exchange, geometry);
    if (!errors) {
        return 1;
    }
    say("\nError %3d ", *errors);

    gate.Close();
    wait_key();
    return 0;
}
