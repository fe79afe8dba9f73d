// The configuration writer's run: find the device, store the three settings
// from "config.txt" in it and read each one back.
#include "run.h"

#include <cstdint>

#include "config.h"
#include "console/console.h"
#include "serial_link/interruption.h"
#include "serial_link/serial_link.h"

namespace {

// A setter is the command byte, then the value's low 8 bits. Nothing is due
// from the device meanwhile: a byte that came by the value's turn is
// unasked, and the run stops once the setter is whole. Returns false,
// printing why, then or when the line was lost.
bool write_setting(SerialGate& gate, std::uint8_t& exchange, std::uint8_t command,
                   std::int32_t value) {
    close_and_end_if_interrupted(gate);
    send_byte(gate, exchange, command, kPauseLongMs);
    const Unasked unasked = take_unasked(gate, &command, 1);
    send_byte(gate, exchange, static_cast<std::uint8_t>(value & 0xFF), kPauseLongMs);
    return !report_line_lost(gate) && !report_unasked(unasked);
}

// Reads a setting back and reports it as "<name> verify ok." or "<name>
// verify error.", once the line has stayed quiet after the reply. A missing
// reply is an error, whatever value was written, and makes `*missed` true:
// from then on a reply could be that one's, late, and the line is out of
// step. Returns false, printing why instead, when the line was lost or out
// of step; a reply that is the command itself, with a byte after it, is a
// local echo.
bool verify_setting(SerialGate& gate, std::uint8_t& exchange, std::uint8_t command,
                    std::int32_t value, const char* name, bool* missed) {
    close_and_end_if_interrupted(gate);
    const Reply answer = query_byte(gate, exchange, command);
    Unasked unasked = answer.unasked;
    if (answer.reply && *missed) {
        unasked = Unasked::kBytes;
    }
    *missed = *missed || !answer.reply;
    if (answer.reply && unasked == Unasked::kNone) {
        unasked = stay_quiet(gate, kSettleQuietMs);
        if (unasked != Unasked::kNone && *answer.reply == command) {
            unasked = Unasked::kEcho;
        }
    }
    close_and_end_if_interrupted(gate);
    if (report_line_lost(gate) || report_unasked(unasked)) {
        return false;
    }
    const bool ok = answer.reply.has_value() && *answer.reply == value;
    say("\n%s verify %s.", name, ok ? "ok" : "error");
    return true;
}

}  // namespace

int run_vantel() {
    SerialGate gate;
    if (find_device(gate) < 0) {
        close_and_end_if_interrupted(gate);
        return 1;
    }
    if (!config_exists()) {
        say("\nError: file <config.txt> not found.");
        return 1;
    }

    say("\n\nWrite:");
    const ConfigRead config = read_config();
    if (!check_config(config)) {
        return 1;
    }
    const ConfigValues& values = config.values;
    std::uint8_t exchange = 0;
    if (!write_setting(gate, exchange, CMD_SET_PAGER, values.pager)) {
        return 1;
    }
    say("\nPager writen");
    if (!write_setting(gate, exchange, CMD_SET_TABLE, values.table)) {
        return 1;
    }
    say("\nTable writen");
    if (!write_setting(gate, exchange, CMD_SET_PAGER_TO_TABLE, values.pager_to_table)) {
        return 1;
    }
    say("\nPager_to_table writen");

    say("\n\nVerify:");
    bool missed = false;
    if (!verify_setting(gate, exchange, CMD_GET_PAGER, values.pager, "Pager", &missed) ||
        !verify_setting(gate, exchange, CMD_GET_TABLE, values.table, "Table", &missed) ||
        !verify_setting(gate, exchange, CMD_GET_PAGER_TO_TABLE, values.pager_to_table,
                        "Pager_to_table", &missed)) {
        return 1;
    }

    gate.Close();
    wait_key();
    return 0;
}
