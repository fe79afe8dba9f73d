// The parts of the process handling that are the same on every platform.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "console/process.h"
#include "version.h"

CommandLine read_command_line(int argc, const char* const* argv) {
    if (argc < 2 || argv[1] == nullptr) {
        return CommandLine::kRun;
    }
    const char* first = argv[1];
    for (const char* help : {"-h", "--help", "-?", "/?"}) {
        if (std::strcmp(first, help) == 0) {
            return CommandLine::kHelp;
        }
    }
    if (std::strcmp(first, "--version") == 0) {
        return CommandLine::kVersion;
    }
    return CommandLine::kRun;
}

void print_usage(const char* usage) {
    std::fputs(usage, stdout);
    std::fflush(stdout);
}

void print_version(const char* program) {
    std::printf("%s %s\n", program, PAGER_TOOLS_VERSION);
    std::fflush(stdout);
}
