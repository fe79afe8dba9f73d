// The device's commands and the one frame each goes out in, the waits for
// its reply and for the quiet that confirms it, and why a run stops.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "console/console.h"
#include "console/process.h"
#include "line_wait.h"
#include "serial_link/serial_link.h"

namespace {

// What came unasked: how many bytes, and the last Stop::kKept of them,
// oldest first.
struct Unasked {
    int count = 0;
    std::uint8_t last[Stop::kKept] = {};
};

// Reads every byte that has come, without waiting, into `got`.
void drain(SerialGate& gate, Unasked* got) {
    char byte = 0;
    while (line_recv(gate, &byte, 1) == 1) {
        std::copy(got->last + 1, got->last + Stop::kKept, got->last);
        got->last[Stop::kKept - 1] = static_cast<std::uint8_t>(byte);
        ++got->count;
    }
}

// A stop for the bytes in `got`, which came at `step`.
Stop unasked_stop(Stop::Reason reason, const Unasked& got, const Step& step) {
    Stop stop;
    stop.reason = reason;
    stop.count = got.count;
    std::copy(got.last, got.last + Stop::kKept, stop.last);
    stop.step = step;
    return stop;
}

// True when the unasked bytes end with the `count` bytes just sent: the line
// gave them back.
bool echoes(const Unasked& got, const std::uint8_t* sent, int count) {
    const int compared = std::min(count, Stop::kKept);
    return compared >= 1 && got.count >= compared &&
           std::equal(sent + count - compared, sent + count, got.last + Stop::kKept - compared);
}

// The stop the state of the line calls for after a wait: an interruption
// first, then a lost line; kNone when neither.
Stop after_wait(SerialGate& gate) {
    if (interrupt_requested()) {
        return Stop{Stop::kInterrupted};
    }
    return Stop{gate.LineLost() ? Stop::kLineLost : Stop::kNone};
}

// Waits `ms` for the line to stay quiet. A byte that comes stops the run,
// having read what had come: kUnasked at `step`.
Stop stay_quiet(Link& link, int ms, const Step& step) {
    const bool came = wait_for_input(link.gate, ms);
    Unasked got;
    if (came) {
        drain(link.gate, &got);
    }
    const Stop stop = after_wait(link.gate);
    return stop || !came ? stop : unasked_stop(Stop::kUnasked, got, step);
}

Step after(Step step) {
    step.after = true;
    return step;
}

Command command_of(std::initializer_list<std::uint8_t> bytes, int pause, int last_pause,
                   const Step& step) {
    Command command;
    for (std::uint8_t byte : bytes) {
        command.bytes[command.count++] = byte;
    }
    command.pause = pause;
    command.last_pause = last_pause;
    command.step = step;
    return command;
}

}  // namespace

Command setter(std::uint8_t command, std::uint8_t value) {
    return command_of({command, value}, kPauseLongMs, kPauseLongMs, Step{Step::kSetter, command});
}

Command query(std::uint8_t command) {
    return command_of({command}, kPauseLongMs, kPauseLongMs, Step{Step::kQuery, command});
}

Command clear_entry(unsigned table, unsigned entry) {
    return command_of(
        {CMD_CLEAR_ENTRY, static_cast<std::uint8_t>(table), static_cast<std::uint8_t>(entry), 0x00},
        kPauseShortMs, kPauseLongMs, Step{Step::kClear, 0, table, entry});
}

Command check_entry(unsigned table, unsigned entry) {
    return command_of(
        {CMD_CHECK_ENTRY, static_cast<std::uint8_t>(table), static_cast<std::uint8_t>(entry)},
        kPauseShortMs, kPauseShortMs, Step{Step::kCheck, 0, table, entry});
}

Stop send_command(Link& link, const Command& command) {
    if (interrupt_requested()) {
        return Stop{Stop::kInterrupted};
    }
    SerialGate& gate = link.gate;
    if (!gate.SettingsIntact()) {
        return Stop{Stop::kSettingsChanged};  // what goes out now may not be what is sent
    }
    const Step previous = link.last_step;
    link.last_step = command.step;
    Stop found;
    for (int i = 0; i < command.count; ++i) {
        const bool last = i == command.count - 1;
        if (last) {
            // The device answers only after the whole command: whatever came
            // before its last byte is not the answer, and the line is not in
            // step.
            Unasked got;
            drain(gate, &got);
            if (got.count > 0) {
                const Stop::Reason reason =
                    echoes(got, command.bytes, i) ? Stop::kEcho : Stop::kUnasked;
                found = unasked_stop(reason, got, i == 0 ? after(previous) : command.step);
                if (i == 0) {
                    return found;  // nothing of it went out yet: it never will
                }
            }
        }
        link.exchange = command.bytes[i];
        const bool taken = line_send(gate, reinterpret_cast<const char*>(&link.exchange), 1) == 1;
        if (gate.LineLost()) {
            return Stop{Stop::kLineLost};  // a lost line takes nothing: nothing to pace
        }
        if (!taken) {
            // A byte the line did not take breaks the command off: the rest
            // must not reach the device as another command.
            return Stop{interrupt_requested() ? Stop::kInterrupted : Stop::kNotSent};
        }
        pause_ms(last ? command.last_pause : command.pause);
    }
    return found;
}

Stop await_reply(Link& link, Answer* answer) {
    SerialGate& gate = link.gate;
    char* byte = reinterpret_cast<char*>(&link.exchange);
    answer->reply.reset();
    const std::int64_t asked_us = steady_us();
    if (line_recv(gate, byte, 1) == 1 ||
        (wait_for_input(gate, kReplyBoundMs) && line_recv(gate, byte, 1) == 1)) {
        answer->reply = link.exchange;
        const std::int64_t took_us = steady_us() - asked_us;
        if (took_us <= link.latest_reply_us + kInStepSlackMs * std::int64_t{1000}) {
            return after_wait(gate);
        }
        // Later than the device has answered so far: noise can look like
        // that, and only a line that then stays quiet, long after any
        // question could be answered, shows it was the device.
        const Stop stop = stay_quiet(link, kOutOfStepQuietMs, after(link.last_step));
        if (!stop) {
            link.latest_reply_us = took_us;
        }
        return stop;
    }
    // A reply that is only late must not answer the next question: it is
    // given time to show itself, and the line is out of step if it does.
    return stay_quiet(link, kLateReplyWindowMs, link.last_step);
}

Stop check_not_shared(Link& link) {
    const std::vector<PortHolder> holders = link.gate.OtherHolders();
    if (holders.empty()) {
        return Stop{};
    }
    Stop stop{Stop::kShared};
    stop.pid = holders.front().pid;
    stop.program = holders.front().command;
    return stop;
}

Stop confirm_quiet(Link& link, const Step& step, int ms) {
    return stay_quiet(link, ms, step);
}

Stop ask(Link& link, const Command& command, Answer* answer) {
    answer->reply.reset();
    const Stop stop = send_command(link, command);
    return stop ? stop : await_reply(link, answer);
}

std::string step_text(const Step& step) {
    static const char* const kSetterNames[] = {"pager", "table", "pager_to_table"};
    char text[64];
    const char* when = step.after ? "after" : "at";
    switch (step.kind) {
        case Step::kSync:
            std::snprintf(text, sizeof text, "%s the sync", when);
            break;
        case Step::kSetter: {
            const char* name = step.command == CMD_SET_PAGER   ? kSetterNames[0]
                               : step.command == CMD_SET_TABLE ? kSetterNames[1]
                                                               : kSetterNames[2];
            std::snprintf(text, sizeof text,
                          step.after ? "after the %s setter" : "at the value of the %s setter",
                          name);
            break;
        }
        case Step::kQuery:
            std::snprintf(text, sizeof text, "%s the reply to %02X", when, step.command);
            break;
        case Step::kClear:
        case Step::kCheck:
            std::snprintf(text, sizeof text, "%s the %s of table %u, entry %u", when,
                          step.kind == Step::kClear ? "clear" : "check", step.table, step.entry);
            break;
        case Step::kBeforeFirstClear:
            return "before the first clear";
        case Step::kAfterLastCheck:
            return "after the last check";
    }
    return text;
}

std::string stop_message(const Stop& stop) {
    std::string what;
    if (stop.reason == Stop::kEcho || stop.reason == Stop::kUnasked) {
        what =
            ": " + std::to_string(stop.count) + (stop.count == 1 ? " byte, last" : " bytes, last");
        char hex[4];
        for (int i = Stop::kKept - std::min(stop.count, Stop::kKept); i < Stop::kKept; ++i) {
            std::snprintf(hex, sizeof hex, " %02X", stop.last[i]);
            what += hex;
        }
        what += ", " + step_text(stop.step);
    }
    switch (stop.reason) {
        case Stop::kNone:
        case Stop::kNoDevice:
        case Stop::kInterrupted:
            return "";
        case Stop::kLineLost:
            return "\nError: the line to the device was lost.";
        case Stop::kNotSent:
            return "\nError: the line did not take a byte sent to the device (its output is "
                   "stopped, or its driver failed).";
        case Stop::kEcho:
            return "\nError: the line echoes what is sent (a loopback plug, or an adapter with "
                   "local echo)" +
                   what + ".";
        case Stop::kUnasked:
            return "\nError: bytes came that answer no question (line noise, or a device "
                   "answering late or twice)" +
                   what + ".";
        case Stop::kStoppedAnswering:
            return "\nError: the device stopped answering.";
        case Stop::kNoGeometry:
            return "\nError: the device did not report its table size.";
        case Stop::kSettingsChanged:
            return "\nError: another program changed the port's settings during the run; "
                   "nothing more was sent.";
        case Stop::kShared: {
            std::string name = stop.program.empty() ? "?" : stop.program;
            for (char& c : name) {
                const auto byte = static_cast<unsigned char>(c);
                c = byte < 0x20 || byte >= 0x7F ? '?' : c;
            }
            return "\nError: another program had the port open during the run, so its replies "
                   "cannot be trusted: " +
                   name + " (PID " + std::to_string(stop.pid) + ").";
        }
        case Stop::kNoTableSize: {
            char text[160];
            std::snprintf(text, sizeof text,
                          "\nError: the device reported %u tables of %u entries, not a table "
                          "size (at most %u tables of %u entries).",
                          stop.tables, stop.entries, kMostTables, kMostEntries);
            return text;
        }
    }
    return "";
}

void say_stop(const Stop& stop) {
    const std::string message = stop_message(stop);
    if (!message.empty()) {
        say("%s", message.c_str());
    }
}

int stop_status(const Stop& stop) {
    return stop ? 1 : 0;
}
