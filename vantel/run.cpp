// The configuration writer's run: find the device, store the three settings
// from "config.txt" in it and read each one back.
#include "run.h"

#include <cstdint>

#include "config.h"
#include "console/console.h"
#include "serial_link/serial_link.h"

namespace {

// A setter is the command byte, then the value's low 8 bits. Returns false,
// printing why, when the line was lost.
bool write_setting(SerialGate& gate, std::uint8_t& exchange, std::uint8_t command,
                   std::int32_t value) {
    send_byte(gate, exchange, command, kPauseLongMs);
    send_byte(gate, exchange, static_cast<std::uint8_t>(value & 0xFF), kPauseLongMs);
    return !line_lost(gate);
}

// Reads a setting back and reports it as "<name> verify ok." or "<name>
// verify error.". A missing reply is an error, whatever value was written.
// Returns false, printing why instead, when the line was lost.
bool verify_setting(SerialGate& gate, std::uint8_t& exchange, std::uint8_t command,
                    std::int32_t value, const char* name) {
    const std::optional<std::uint8_t> reply = query_byte(gate, exchange, command);
    if (line_lost(gate)) {
        return false;
    }
    const bool ok = reply.has_value() && *reply == value;
    say("\n%s verify %s.", name, ok ? "ok" : "error");
    return true;
}

}  // namespace

int run_vantel() {
    SerialGate gate;
    if (find_device(gate) < 0) {
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
    if (!verify_setting(gate, exchange, CMD_GET_PAGER, values.pager, "Pager") ||
        !verify_setting(gate, exchange, CMD_GET_TABLE, values.table, "Table") ||
        !verify_setting(gate, exchange, CMD_GET_PAGER_TO_TABLE, values.pager_to_table,
                        "Pager_to_table")) {
        return 1;
    }

    gate.Close();
    wait_key();
    return 0;
}
