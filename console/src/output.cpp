#include <cstdarg>
#include <cstdio>

#include "console/console.h"

void say(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    // Where standard output goes does not change during a run: ask once.
    static const bool to_console = stdout_is_console();
    if (to_console) {
        std::fflush(stdout);
    }
}
