// The survey itself and its two forms of output; the same on every platform.
#include "survey.h"

#include <cstdio>
#include <string>

#include "console/console.h"
#include "discovery.h"
#include "serial_link/serial_gate.h"

namespace {

// Fills in why `entry` did not open, from what Open said.
void explain_failure(const PortPaths& paths, const OpenFailure& failure, PortEntry* entry) {
    const char* const in_use = "in use by another program";
    switch (failure.kind) {
        case OpenFailure::kLockFile:
            entry->held_by = "lock file";
            entry->holder_pid = failure.pid;
            entry->problem = in_use;
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
            if (error_means_in_use(failure.error)) {
                entry->problem = in_use;
            } else {
                entry->permission_denied = error_means_permission(failure.error);
                entry->problem = system_error_text(failure.error);
            }
            break;
        case OpenFailure::kNotSerial:
            entry->problem = "not a serial port";
            break;
        case OpenFailure::kSettings:
            entry->problem = "would not take 9600 baud 8N1";
            break;
        case OpenFailure::kNoSuchPort:
        case OpenFailure::kNone:
            entry->problem = "no such port";
            break;
    }
    if (entry->problem == in_use) {
        find_holder(paths, entry);
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
        if (!entry.held_by.empty() || entry.holder_pid > 0) {
            std::string holder =
                entry.holder_command.empty() ? "another program" : entry.holder_command;
            if (entry.holder_pid > 0) {
                holder += " (PID " + std::to_string(entry.holder_pid) + ")";
            }
            survey->hints.push_back("COM" + std::to_string(entry.port) + " is held by " + holder +
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
    std::string text = entry.held_by;
    if (entry.holder_pid > 0) {
        text += (text.empty() ? "" : ": ") + std::string("PID ") + std::to_string(entry.holder_pid);
        if (!entry.holder_command.empty()) {
            text += " " + entry.holder_command;
        }
    }
    return text.empty() ? "-" : text;
}

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string json_text_or_null(const std::string& text) {
    return text.empty() ? "null" : json_string(text);
}

std::string json_number_or_null(int value, bool present) {
    return present ? std::to_string(value) : "null";
}

}  // namespace

Survey survey_ports(const PortPaths& paths, bool probe) {
    Survey survey;
    SerialGateAt gate(paths);
    PortInfo info{};
    gate.GetPortsInfo(&info);
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
                explain_failure(paths, gate.LastOpenFailure(), &entry);
            }
            gate.Close();
        }
        survey.ports.push_back(entry);
    }
    if (probe) {
        survey.probed = true;
        // The handshake is discovery's own, dots and all; they stay out of
        // the report.
        show_messages(false);
        for (PortEntry& entry : survey.ports) {
            if (!entry.usable || !gate.Open(entry.port, kDeviceBaud)) {
                continue;
            }
            entry.echoes = probe_port(gate);
            gate.Close();
            if (survey.chosen < 0 && entry.echoes >= 1) {
                survey.chosen = entry.port;
            }
        }
        show_messages(true);
    }
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
    for (const PortEntry& entry : survey.ports) {
        any_latency = any_latency || entry.latency_ms >= 0;
    }
    if (any_latency) {
        rows.front().push_back("LATENCY");
    }
    if (survey.probed) {
        rows.front().push_back("ECHOES");
    }
    for (const PortEntry& entry : survey.ports) {
        rows.push_back({"COM" + std::to_string(entry.port), entry.device, state_text(entry),
                        open_text(entry), held_text(entry)});
        if (any_latency) {
            rows.back().push_back(entry.latency_ms >= 0 ? std::to_string(entry.latency_ms) + " ms"
                                                        : "-");
        }
        if (survey.probed) {
            rows.back().push_back(entry.echoes >= 0 ? std::to_string(entry.echoes) : "-");
        }
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths[c] = row[c].size() > widths[c] ? row[c].size() : widths[c];
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
                out += columns ? std::string(widths[c] - rows[r][c].size() + 2, ' ') : "\t";
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
            out += "- " + hint + "\n";
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
               ", \"holder_pid\": " + json_number_or_null(e.holder_pid, e.holder_pid > 0) +
               ", \"holder_command\": " + json_text_or_null(e.holder_command) +
               ", \"group\": " + json_text_or_null(e.group) +
               ", \"in_group\": " + (e.group_known ? (e.in_group ? "true" : "false") : "null") +
               ", \"echoes\": " + json_number_or_null(e.echoes, e.echoes >= 0) +
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
