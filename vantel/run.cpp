// The configuration writer's run: find the device, store the three settings
// from "config.txt" in it and read each one back.
#include "run.h"

#include <cstdint>
#include <string>

#include "config.h"
#include "console/console.h"
#include "serial_link/interruption.h"
#include "serial_link/serial_link.h"

namespace {

// Reads a setting back and adds "<name> verify ok." or "<name> verify
// error." to `*lines`, once the line has stayed quiet after the reply (the
// last reply: kOutOfStepQuietMs, which confirms them all). A missing reply
// is an error, whatever value was written, and makes `*missed` true: from
// then on a reply could be that one's, late, and the line is out of step. A
// reply that is the command itself, with a byte after it, is a local echo.
Stop verify_setting(Link& link, std::uint8_t command, std::int32_t value, const char* name,
                    bool* missed, std::string* lines) {
    Answer answer;
    Stop stop = ask(link, query(command), &answer);
    if (!stop && answer.reply && *missed) {
        stop.reason = Stop::kUnasked;
        stop.count = 1;
        stop.last[Stop::kKept - 1] = *answer.reply;
        stop.step = query(command).step;
    }
    *missed = *missed || !answer.reply;
    const bool last = command == CMD_GET_PAGER_TO_TABLE;
    if (!stop && answer.reply) {
        stop = confirm_quiet(link, Step{Step::kQuery, command, 0, 0, true},
                             last ? kOutOfStepQuietMs : kConfirmQuietMs);
        if (stop.reason == Stop::kUnasked && answer.reply == command) {
            stop.reason = Stop::kEcho;
        }
    }
    if (!stop) {
        const bool ok = answer.reply.has_value() && *answer.reply == value;
        *lines += std::string("\n") + name + " verify " + (ok ? "ok." : "error.");
    }
    return stop;
}

// The run from the device found to the values read back. Returns why it
// stopped early, or kNone.
Stop write_and_verify(Link& link, const ConfigValues& values) {
    const auto low_byte = [](std::int32_t value) {
        return static_cast<std::uint8_t>(value & 0xFF);
    };
    if (Stop stop = send_command(link, setter(CMD_SET_PAGER, low_byte(values.pager)))) {
        return stop;
    }
    say("\nPager writen");
    if (Stop stop = send_command(link, setter(CMD_SET_TABLE, low_byte(values.table)))) {
        return stop;
    }
    say("\nTable writen");
    if (Stop stop =
            send_command(link, setter(CMD_SET_PAGER_TO_TABLE, low_byte(values.pager_to_table)))) {
        return stop;
    }
    say("\nPager_to_table writen");

    say("\n\nVerify:");
    // The lines are printed once the last reply is confirmed: a line whose
    // device has just stopped may give a byte in step by chance, but not
    // then stay quiet that long.
    bool missed = false;
    std::string lines;
    Stop stop = verify_setting(link, CMD_GET_PAGER, values.pager, "Pager", &missed, &lines);
    if (!stop) {
        stop = verify_setting(link, CMD_GET_TABLE, values.table, "Table", &missed, &lines);
    }
    if (!stop) {
        stop = verify_setting(link, CMD_GET_PAGER_TO_TABLE, values.pager_to_table, "Pager_to_table",
                              &missed, &lines);
    }
    if (!stop) {
        say("%s", lines.c_str());
    }
    return stop;
}

}  // namespace

int run_vantel(const RunOptions& options) {
    SerialGate gate;
    gate.ChoosePort(options.port);
    Link link(gate);
    if (Stop stop = find_device(link)) {
        return end_run(link, stop);
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
    // A program that shared the port may have read or written in between:
    // what was verified is then not known to be the device's.
    Stop stop = write_and_verify(link, config.values);
    if (stop || (stop = check_not_shared(link))) {
        return end_run(link, stop);
    }

    gate.Close();
    wait_key();
    return 0;
}
