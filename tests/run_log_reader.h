// Reads a run log (console/run_log.h) back into its lines, so that tests
// check what it says rather than how it is spaced.
#pragma once

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

struct LogLine {
    double ms = -1;     // -1 for a line that is not "<ms> <event> [<text>]"
    std::string event;  // start, args, open, >, <, say, exit, signal
    std::string text;   // unescaped for say and args
};

inline std::string unescape_log_text(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char code = text[++i];
        if (code == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += code == 'n' ? '\n' : code == 'r' ? '\r' : code;
        }
    }
    return out;
}

inline std::vector<LogLine> read_run_log(const std::string& log) {
    std::vector<LogLine> lines;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();  // Windows writes its text files with CR LF
        }
        LogLine read;
        const std::size_t space = line.find(' ');
        const std::string time = line.substr(0, space);
        char* end = nullptr;
        const double ms = std::strtod(time.c_str(), &end);
        const std::size_t dot = line.find('.');
        if (space != std::string::npos && *end == '\0' && dot != std::string::npos &&
            space - dot == 4) {
            read.ms = ms;
            const std::size_t second = line.find(' ', space + 1);
            read.event =
                line.substr(space + 1, second == std::string::npos ? second : second - space - 1);
            read.text = second == std::string::npos ? "" : line.substr(second + 1);
            if (read.event == "say" || read.event == "args") {
                read.text = unescape_log_text(read.text);
            }
        }
        lines.push_back(read);
    }
    return lines;
}

// What the log says in one event's lines: the messages joined, or the bytes
// of > or < as ">F0>01" words.
inline std::string log_events(const std::vector<LogLine>& lines, const std::string& event) {
    std::string joined;
    for (const LogLine& line : lines) {
        if (line.event == event) {
            joined += event == "say" ? line.text : event + line.text;
        }
    }
    return joined;
}
