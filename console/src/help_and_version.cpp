// The answer to a command line that asks for help or the version, the same on
// every platform.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "console/process.h"
#include "version.h"

bool answer_help_or_version(int argc, const char* const* argv, const char* program,
                            const char* usage) {
    const char* first = argc >= 2 ? argv[1] : nullptr;
    if (first == nullptr) {
        return false;
    }
    for (const char* help : {"-h", "--help", "-?", "/?"}) {
        if (std::strcmp(first, help) == 0) {
            std::fputs(usage, stdout);
            std::fflush(stdout);
            return true;
        }
    }
    if (std::strcmp(first, "--version") == 0) {
        std::printf("%s %s\n", program, PAGER_TOOLS_VERSION);
        std::fflush(stdout);
        return true;
    }
    return false;
}
