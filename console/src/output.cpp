#include <cstdarg>
#include <cstdio>
#include <string>

#include "console/console.h"
#include "console/run_log.h"

void say(const char* format, ...) {
    char text[256];
    std::va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::string longer;
    if (length >= static_cast<int>(sizeof text)) {
        longer.resize(static_cast<std::size_t>(length) + 1);
        va_start(args, format);
        std::vsnprintf(longer.data(), longer.size(), format, args);
        va_end(args);
    }
    const char* message = longer.empty() ? text : longer.c_str();
    std::fputs(message, stdout);
    // Into a console, a file or a pipe alike, each message goes out whole as
    // it is printed: `brisko | tee` shows the dots live, and a run that is
    // killed leaves everything it had printed.
    std::fflush(stdout);
    run_log_message(message);
}
