// The answer to a command line that asks for help or the version, the same on
// every platform.
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "console/process.h"
#include "version.h"

namespace {

bool is_one_of(const char* arg, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (std::strcmp(arg, name) == 0) {
            return true;
        }
    }
    return false;
}

// `text` in quotes as it can be shown on a terminal: control bytes and DEL
// as \xNN.
std::string quoted(const char* text) {
    std::string out = "'";
    for (const char* c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += *c;
        }
    }
    out += '\'';
    return out;
}

CommandLine refuse(const char* program, std::span<const Option> options, const std::string& why) {
    print_usage_error(program, options, why.c_str());
    return CommandLine::kRefused;
}

}  // namespace

void print_usage_error(const char* program, std::span<const Option> options, const char* why) {
    std::string line = std::string(program) + ": " + why + ". Usage: " + program;
    for (const Option& option : options) {
        line += std::string(" [") + option.name;
        if (option.value_name != nullptr) {
            line += std::string(" ") + option.value_name;
        }
        line += "]";
    }
    line += std::string("; '") + program + " --help' tells more.\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

CommandLine read_command_line(int argc, const char* const* argv, const char* program,
                              const char* usage, std::span<Option> options) {
    for (Option& option : options) {
        option.given = nullptr;
    }
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (is_one_of(arg, {"-h", "--help", "-?", "/?"})) {
            std::fputs(usage, stdout);
            std::fflush(stdout);
            return CommandLine::kAnswered;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::printf("%s %s\n", program, PAGER_TOOLS_VERSION);
            std::fflush(stdout);
            return CommandLine::kAnswered;
        }
        const char* equals = std::strchr(arg, '=');
        const std::size_t name_length = equals != nullptr ? equals - arg : std::strlen(arg);
        Option* found = nullptr;
        for (Option& option : options) {
            if (std::strlen(option.name) == name_length &&
                std::strncmp(arg, option.name, name_length) == 0) {
                found = &option;
            }
        }
        if (found == nullptr) {
            return refuse(program, options, quoted(arg) + " is not an option");
        }
        const std::string name = found->name;
        if (found->given != nullptr) {
            return refuse(program, options, name + " is given twice");
        }
        if (found->value_name == nullptr) {
            if (equals != nullptr) {
                return refuse(program, options, name + " takes no value");
            }
            found->given = "";
            continue;
        }
        // A value in a word of its own must not look like an option: with
        // "--log --port COM5" the port would otherwise be lost to the log's
        // name, and the run would go to whichever device answers first.
        const char* value = equals != nullptr ? equals + 1 : (i + 1 < argc ? argv[++i] : nullptr);
        if (value == nullptr || *value == '\0' || (equals == nullptr && *value == '-')) {
            return refuse(program, options,
                          name + " needs a value (" + name + " " + found->value_name + ")");
        }
        found->given = value;
    }
    return CommandLine::kRun;
}
