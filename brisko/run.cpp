// The table eraser's run: find the device, clear every entry of its table
// memory and check every entry afterwards.
#include "run.h"

#include <cstdint>
#include <optional>

#include "console/console.h"
#include "serial_link/serial_link.h"

namespace {

// Once this many entry checks in a row got no reply, the device has stopped
// listening: going on would cost a reply bound and an "e" per entry, hours
// on a large table memory.
constexpr int kSilentChecksToStop = 16;

// The size of the device's table memory, as the device reports it.
struct DeviceGeometry {
    unsigned tables;   // table numbers on the wire run 1..tables
    unsigned entries;  // entry indexes on the wire run 0..entries-1
};

// Asks the device for its geometry. The pager setting is asked first, as the
// device expects, and its reply is not used. Empty when the device did not
// answer the table or entry query.
std::optional<DeviceGeometry> read_geometry(SerialGate& gate, std::uint8_t& exchange) {
    query_byte(gate, exchange, CMD_GET_PAGER);
    const std::optional<std::uint8_t> tables = query_byte(gate, exchange, CMD_GET_TABLE);
    const std::optional<std::uint8_t> entries = query_byte(gate, exchange, CMD_GET_PAGER_TO_TABLE);
    if (!tables || !entries) {
        return std::nullopt;
    }
    return DeviceGeometry{*tables, *entries};
}

// Sends the clear command for every entry, table by table, with a "." each.
// Returns false, printing why, when the line was lost; a clear that did not
// go out gets no dot.
bool clear_entries(SerialGate& gate, std::uint8_t& exchange, const DeviceGeometry& geometry) {
    for (unsigned t = 0; t < geometry.tables; ++t) {
        for (unsigned e = 0; e < geometry.entries; ++e) {
            send_byte(gate, exchange, CMD_CLEAR_ENTRY, kPauseShortMs);
            send_byte(gate, exchange, static_cast<std::uint8_t>(t + 1), kPauseShortMs);
            send_byte(gate, exchange, static_cast<std::uint8_t>(e), kPauseShortMs);
            send_byte(gate, exchange, 0x00, kPauseLongMs);
            if (line_lost(gate)) {
                return false;
            }
            say(".");
        }
    }
    return true;
}

// Checks every entry in the same order, printing "." for a clear entry and
// "e" for one that is not clear or got no reply. Returns the number of e's,
// or std::nullopt, printing why, when the line was lost or the device
// stopped answering.
std::optional<int> check_entries(SerialGate& gate, std::uint8_t& exchange,
                                 const DeviceGeometry& geometry) {
    int errors = 0;
    int silent_in_a_row = 0;
    for (unsigned t = 0; t < geometry.tables; ++t) {
        for (unsigned e = 0; e < geometry.entries; ++e) {
            send_byte(gate, exchange, CMD_CHECK_ENTRY, kPauseShortMs);
            send_byte(gate, exchange, static_cast<std::uint8_t>(t + 1), kPauseShortMs);
            // The device answers only after the whole command: whatever came
            // before its last byte (a copy of the last reply, say) is not
            // this entry's reply.
            gate.DiscardInput();
            send_byte(gate, exchange, static_cast<std::uint8_t>(e), kPauseShortMs);
            const std::optional<std::uint8_t> reply = recv_reply(gate, exchange);
            if (line_lost(gate)) {
                return std::nullopt;
            }
            silent_in_a_row = reply ? 0 : silent_in_a_row + 1;
            if (reply == std::uint8_t{0}) {
                say(".");
            } else {
                ++errors;
                say("e");
            }
            if (silent_in_a_row == kSilentChecksToStop) {
                say("\nError: the device stopped answering.");
                return std::nullopt;
            }
            pause_ms(kPauseShortMs);
        }
    }
    return errors;
}

}  // namespace

int run_brisko() {
    SerialGate gate;
    if (find_device(gate) < 0) {
        return 1;
    }

    say("\n\nErase");
    std::uint8_t exchange = 0;
    const std::optional<DeviceGeometry> geometry = read_geometry(gate, exchange);
    if (line_lost(gate)) {
        return 1;
    }
    if (!geometry) {
        say("\nError: the device did not report its table size.");
        return 1;
    }
    if (!clear_entries(gate, exchange, *geometry)) {
        return 1;
    }

    say("\nVerify");
    const std::optional<int> errors = check_entries(gate, exchange, *geometry);
    if (!errors) {
        return 1;
    }
    say("\nError %3d ", *errors);

    gate.Close();
    wait_key();
    return 0;
}
