// The survey itself and its two forms of output; the same on every platform.
#include "survey.h"

#include <cstdio>
#include <string>

#include "console/console.h"
#include "serial_link/port_holders.h"
#include "serial_link/serial_gate.h"
#include "serial_link/serial_link.h"
#include "serial_link/sync_probe.h"

namespace {

// Fills in why `entry` did not open, from what Open said.
void explain_failure(const OpenFailure& failure, PortEntry* entry) {
    const char* const in_use = "in use by another program";
    switch (failure.kind) {
        case OpenFailure::kLockFile:
            entry->held_by = "lock file";
            entry->holders.push_back(PortHolder{failure.pid, ""});
            entry->problem = in_use;
            break;
        case OpenFailure::kOpenElsewhere:
            entry->held_by = "open";
            entry->problem = in_use;
            break;
        case OpenFailure::kConsole:
            entry->problem = "leads to this terminal or the console";
            break;
        case OpenFailure::kFlock:
            entry->held_by = "flock";
            entry->problem = in_use;
            break;
        case OpenFailure::kExclusive:
            entry->held_by = "exclusive mode";
            entry->problem = in_use;
            break;
        case OpenFailure::kSystem:
            entry->problem = in_use_text(failure.error);
            if (entry->problem.empty()) {
                entry->permission_denied = error_means_permission(failure.error);
                entry->problem = system_error_text(failure.error);
            }
            break;
        case OpenFailure::kNotSerial:
            entry->problem = "not a serial port";
            break;
        case OpenFailure::kSettings:
            entry->problem = "would not take 9600 baud 8N1";
            if (failure.call != nullptr) {
                entry->problem += std::string(" (") + failure.call + ": " +
                                  system_error_text(failure.error) + ")";
            }
            break;
        case OpenFailure::kNoSuchPort:
        case OpenFailure::kNone:
            entry->problem = "no such port";
            break;
    }
}

void add_common_hints(Survey* survey) {
    for (const PortEntry& entry : survey->ports) {
        if (entry.permission_denied && entry.group_known && !entry.group.empty() &&
            !entry.in_group) {
            if (entry.in_group_after_login) {
                survey->hints.push_back("You were added to the group " + entry.group +
                                        ", which owns " + entry.device +
                                        ", after this login began: log out and in again.");
            } else {
                survey->hints.push_back("You are not in the group " + entry.group +
                                        ", which owns " + entry.device + ": sudo usermod -aG " +
                                        entry.group + " $USER, then log out and in again.");
            }
            break;
        }
    }
    for (const PortEntry& entry : survey->ports) {
        if (!entry.held_by.empty() || !entry.holders.empty()) {
            std::string holders;
            for (const PortHolder& holder : entry.holders) {
                holders += (holders.empty() ? "" : ", ") +
                           (holder.command.empty() ? "a process" : holder.command) + " (PID " +
                           std::to_string(holder.pid) + ")";
            }
            survey->hints.push_back("COM" + std::to_string(entry.port) + " is held by " +
                                    (holders.empty() ? "another program" : holders) +
                                    ": close it, or stop that service.");
        }
    }
    if (survey->probed && survey->chosen < 0 && any_usable(*survey)) {
        survey->hints.push_back(
            "No port answered the sync byte: check the device's power, the cable (straight or "
            "null-modem) and 9600 baud 8N1.");
    }
}

std::string state_text(const PortEntry& entry) {
    std::string text = std::to_string(entry.state);
    if (!entry.state_note.empty()) {
        text += " (" + entry.state_note + ")";
    }
    return text;
}

std::string open_text(const PortEntry& entry) {
    if (!entry.tried) {
        return "not tried";
    }
    if (entry.usable) {
        return "yes";
    }
    std::string text = "no: " + entry.problem;
    if (entry.permission_denied && entry.group_known && !entry.group.empty()) {
        text += " (group " + entry.group + "; you are " +
                (entry.in_group               ? "in it"
                 : entry.in_group_after_login ? "in it after a new login"
                                              : "not in it") +
                ")";
    }
    return text;
}

std::string held_text(const PortEntry& entry) {
    std::string who;
    for (const PortHolder& holder : entry.holders) {
        who += (who.empty() ? "PID " : ", PID ") + std::to_string(holder.pid);
        if (!holder.command.empty()) {
            who += " " + holder.command;
        }
    }
    std::string text = entry.held_by;
    if (!who.empty()) {
        text += (text.empty() ? "" : ": ") + who;
    }
    return text.empty() ? "-" : text;
}

// The length of the UTF-8 sequence at text[at], with its code point in
// *code; 0 when the bytes there are no valid, shortest-form sequence.
std::size_t utf8_sequence(const std::string& text, std::size_t at, unsigned* code) {
    const unsigned lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xC2 && lead < 0xE0 ? 2
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5 ? 4
                                                             : 0;
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    *code = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned byte = static_cast<unsigned char>(text[at + i]);
        if ((byte & 0xC0) != 0x80) {
            return 0;
        }
        *code = (*code << 6) | (byte & 0x3F);
    }
    const unsigned shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (*code < shortest[length] || *code > 0x10FFFF || (*code >= 0xD800 && *code < 0xE000)) {
        return 0;
    }
    return length;
}

// True for the control characters, which a terminal acts on: C0, DEL, C1.
bool control_character(unsigned code) {
    return code < 0x20 || (code >= 0x7F && code < 0xA0);
}

// `text` from the system, safe to print: each control character and each
// byte that is not valid UTF-8 becomes "?".
std::string printable(const std::string& text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        unsigned code = 0;
        const std::size_t length = utf8_sequence(text, at, &code);
        if (length == 0 || control_character(code)) {
            out += '?';
            at += length == 0 ? 1 : length;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}

// `text` as a JSON string: control characters escaped, and each byte that is
// not valid UTF-8 as U+FFFD, the replacement character.
std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        unsigned code = 0;
        const std::size_t length = utf8_sequence(text, at, &code);
        if (length == 0) {
            out += "\\ufffd";
            ++at;
            continue;
        }
        if (code == '"' || code == '\\') {
            out += '\\';
            out += static_cast<char>(code);
        } else if (control_character(code)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
            out += escaped;
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out + "\"";
}

std::string json_holders(const std::vector<PortHolder>& holders) {
    std::string out = "[";
    for (std::size_t i = 0; i < holders.size(); ++i) {
        out += (i == 0 ? "" : ", ") + std::string("{\"pid\": ") + std::to_string(holders[i].pid) +
               ", \"command\": " + json_string(holders[i].command) + "}";
    }
    return out + "]";
}

// The terminal columns printable text takes: one per character, a name in
// the user's language included.
std::size_t columns_of(const std::string& text) {
    std::size_t columns = 0;
    for (const char byte : text) {
        columns += (static_cast<unsigned char>(byte) & 0xC0) != 0x80 ? 1 : 0;
    }
    return columns;
}

// The USB vendor and product IDs as lsusb and Device Manager write them,
// "0403:6001".
std::string usb_id(const PortEntry& entry) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", entry.vid & 0xFFFF,
                  entry.pid < 0 ? 0 : entry.pid & 0xFFFF);
    return text;
}

std::string json_text_or_null(const std::string& text) {
    return text.empty() ? "null" : json_string(text);
}

std::string json_number_or_null(int value, bool present) {
    return present ? std::to_string(value) : "null";
}

}  // namespace

Survey survey_ports(const PortPaths& all_paths, bool probe, const PortChoice& choice) {
    Survey survey;
    SerialGateAt gate(all_paths);
    gate.ChoosePort(choice);
    const PortPaths& paths = gate.Paths();
    PortInfo info{};
    gate.GetPortsInfo(&info);
    begin_holder_census();
    for (int i = 0; i < info.count(); ++i) {
        PortEntry entry;
        entry.port = info.port(i);
        entry.state = info.state(i);
        describe_port(paths, &entry);
        entry.latency_ms = latency_timer_ms(paths, entry);
        if (entry.state == PortInfo::kStateProbe) {
            entry.tried = true;
            entry.usable = gate.Open(entry.port, kDeviceBaud);
            if (!entry.usable) {
                explain_failure(gate.LastOpenFailure(), &entry);
            }
            gate.Close();
        }
        find_holders(&entry);
        survey.ports.push_back(entry);
    }
    add_unlisted_ports(&survey);
    if (probe) {
        survey.probed = true;
        for (PortEntry& entry : survey.ports) {
            if (!entry.usable || !gate.Open(entry.port, kDeviceBaud)) {
                continue;
            }
            // Discovery's own handshake and verdict, without its dots.
            const SyncResult sync = sync_with_port(gate, false);
            gate.Close();
            entry.echoes = sync.echoes;
            entry.noisy = sync.verdict == SyncResult::kNoisy;
            entry.line_lost = sync.verdict == SyncResult::kLineLost;
            if (survey.chosen < 0 && sync.verdict == SyncResult::kDevice) {
                survey.chosen = entry.port;
            }
        }
    }
    end_holder_census();
    add_common_hints(&survey);
    add_system_hints(paths, survey, &survey.hints);
    return survey;
}

bool any_usable(const Survey& survey) {
    for (const PortEntry& entry : survey.ports) {
        if (entry.usable) {
            return true;
        }
    }
    return false;
}

std::string survey_text(const Survey& survey, bool columns, bool colour) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"PORT", "DEVICE", "STATE", "OPEN", "HELD BY"});
    bool any_latency = false;
    bool any_name = false;
    for (const PortEntry& entry : survey.ports) {
        any_latency = any_latency || entry.latency_ms >= 0;
        any_name = any_name || !entry.name.empty() || entry.vid >= 0;
    }
    if (any_name) {
        rows.front().insert(rows.front().begin() + 2, {"NAME", "USB ID"});
    }
    if (any_latency) {
        rows.front().push_back("LATENCY");
    }
    if (survey.probed) {
        rows.front().push_back("ECHOES");
    }
    for (const PortEntry& entry : survey.ports) {
        rows.push_back({"COM" + std::to_string(entry.port), printable(entry.device),
                        printable(state_text(entry)), printable(open_text(entry)),
                        printable(held_text(entry))});
        if (any_name) {
            rows.back().insert(rows.back().begin() + 2,
                               {entry.name.empty() ? "-" : printable(entry.name),
                                entry.vid >= 0 ? usb_id(entry) : "-"});
        }
        if (any_latency) {
            rows.back().push_back(entry.latency_ms >= 0 ? std::to_string(entry.latency_ms) + " ms"
                                                        : "-");
        }
        if (survey.probed) {
            rows.back().push_back(entry.echoes < 0  ? "-"
                                  : entry.noisy     ? std::to_string(entry.echoes) + " (noisy)"
                                  : entry.line_lost ? std::to_string(entry.echoes) + " (line lost)"
                                                    : std::to_string(entry.echoes));
        }
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths[c] = columns_of(row[c]) > widths[c] ? columns_of(row[c]) : widths[c];
        }
    }
    std::string out;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const bool port_row = r > 0;
        const char* mark = "";
        if (colour && port_row) {
            const PortEntry& entry = survey.ports[r - 1];
            mark = entry.usable ? "\033[32m" : entry.tried ? "\033[31m" : "";
        }
        out += mark;
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            const bool last = c + 1 == rows[r].size();
            out += rows[r][c];
            if (!last) {
                out += columns ? std::string(widths[c] - columns_of(rows[r][c]) + 2, ' ') : "\t";
            }
        }
        out += *mark != '\0' ? "\033[0m\n" : "\n";
    }
    if (survey.ports.empty()) {
        out += "No serial ports found.\n";
    }
    if (survey.probed) {
        out += survey.chosen >= 0
                   ? "vantel and brisko would use COM" + std::to_string(survey.chosen) + ".\n"
                   : "No port answered: vantel and brisko would say \"error - not responding\".\n";
    }
    if (!survey.hints.empty()) {
        out += "\nHints:\n";
        for (const std::string& hint : survey.hints) {
            out += "- " + printable(hint) + "\n";
        }
    }
    return out;
}

std::string survey_json(const Survey& survey) {
    std::string out = "{\n  \"ports\": [";
    for (std::size_t i = 0; i < survey.ports.size(); ++i) {
        const PortEntry& e = survey.ports[i];
        out += i == 0 ? "\n" : ",\n";
        out += "    {\"com\": " + std::to_string(e.port) +
               ", \"device\": " + json_string(e.device) +
               ", \"state\": " + std::to_string(e.state) +
               ", \"state_note\": " + json_text_or_null(e.state_note) +
               ", \"tried\": " + (e.tried ? "true" : "false") +
               ", \"usable\": " + (e.usable ? "true" : "false") +
               ", \"problem\": " + json_text_or_null(e.problem) +
               ", \"held_by\": " + json_text_or_null(e.held_by) +
               ", \"holders\": " + json_holders(e.holders) +
               ", \"group\": " + json_text_or_null(e.group) +
               ", \"in_group\": " + (e.group_known ? (e.in_group ? "true" : "false") : "null") +
               ", \"echoes\": " + json_number_or_null(e.echoes, e.echoes >= 0) +
               ", \"noisy\": " + (e.noisy ? "true" : "false") +
               ", \"line_lost\": " + (e.line_lost ? "true" : "false") +
               ", \"name\": " + json_text_or_null(e.name) +
               ", \"usb_id\": " + (e.vid >= 0 ? json_string(usb_id(e)) : "null") +
               ", \"latency_ms\": " + json_number_or_null(e.latency_ms, e.latency_ms >= 0) + "}";
    }
    out += survey.ports.empty() ? "],\n" : "\n  ],\n";
    out += "  \"probed\": " + std::string(survey.probed ? "true" : "false") + ",\n";
    out += "  \"chosen\": " + json_number_or_null(survey.chosen, survey.chosen >= 0) + ",\n";
    out += "  \"hints\": [";
    for (std::size_t i = 0; i < survey.hints.size(); ++i) {
        out += (i == 0 ? "" : ", ") + json_string(survey.hints[i]);
    }
    out += "]\n}\n";
    return out;
}
