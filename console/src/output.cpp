#include <cstdarg>
#include <cstdio>

#include "console/console.h"

void say(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    if (stdout_is_console()) {
        std::fflush(stdout);
    }
}
