#include "console/run_log.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "run_log_file.h"
#include "version.h"

namespace {

std::FILE* log_file = nullptr;
LogClock log_clock = nullptr;
std::int64_t start_us = 0;

void line(const char* event, const std::string& text) {
    if (log_file == nullptr) {
        return;
    }
    const std::int64_t us = log_clock() - start_us;
    std::fprintf(log_file, "%lld.%03lld %s%s%s\n", static_cast<long long>(us / 1000),
                 static_cast<long long>(us % 1000), event, text.empty() ? "" : " ", text.c_str());
    std::fflush(log_file);
}

// The local date and time with the offset from UTC: "2026-12-09 03:40:12 +0100".
// Worked out here: %z is a zone's name, not its offset, on some systems.
std::string local_time() {
    std::tm local{};
    std::tm utc{};
    if (!broken_down_time(std::time(nullptr), &local, &utc)) {
        return "?";
    }
    const int day_shift = local.tm_year != utc.tm_year ? (local.tm_year > utc.tm_year ? 1 : -1)
                                                       : local.tm_yday - utc.tm_yday;
    const int offset =
        day_shift * 24 * 60 + (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min);
    const int size = offset < 0 ? -offset : offset;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %c%02d%02d",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', size / 60, size % 60);
    return text;
}

std::string escaped(const char* text) {
    std::string out;
    for (const char* c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += *c;
        }
    }
    return out;
}

void end(const char* event, int value) {
    line(event, std::to_string(value));
    if (log_file != nullptr) {
        std::fclose(log_file);
        log_file = nullptr;
    }
}

}  // namespace

bool run_log_open(const char* path, const char* program, int argc, const char* const* argv,
                  LogClock clock) {
    std::string why;
    std::FILE* file = open_log_file(path, &why);
    if (file == nullptr) {
        std::fprintf(stderr, "%s: cannot write the log to %s: %s\n", program, path, why.c_str());
        std::fflush(stderr);
        return false;
    }
    log_file = file;
    log_clock = clock;
    start_us = clock();
    line("start", std::string(program) + " " + PAGER_TOOLS_VERSION + " " + local_time());
    std::string args;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            args += ' ';
        }
        args += escaped(argv[i]);
    }
    line("args", args);
    return true;
}

bool run_log_active() {
    return log_file != nullptr;
}

void run_log_open_port(int port, const char* identity) {
    std::string text = "COM";
    text += std::to_string(port);
    if (*identity != '\0') {
        text += ' ';
        text += identity;
    }
    line("open", text);
}

void run_log_bytes(char direction, const std::uint8_t* bytes, int count) {
    static const char kDigits[] = "0123456789ABCDEF";
    const char event[2] = {direction, '\0'};
    for (int i = 0; i < count && log_file != nullptr; ++i) {
        line(event, {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 0xF]});
    }
}

void run_log_message(const char* text) {
    // An empty message prints nothing, and says nothing here either.
    if (log_file != nullptr && *text != '\0') {
        line("say", escaped(text));
    }
}

void run_log_exit(int status) {
    end("exit", status);
}

void run_log_signal(int signal) {
    end("signal", signal);
}
