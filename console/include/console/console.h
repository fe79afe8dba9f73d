// The console: the programs' messages on standard output and the key prompt.
#pragma once

// Lets GCC and Clang check a printf-style call's arguments against its format
// (argument `format_index`, the values from `first_value`); other compilers
// do without.
#if defined(__GNUC__) || defined(__clang__)
#define PAGER_PRINTF_FORMAT(format_index, first_value) \
    [[gnu::format(printf, format_index, first_value)]]
#else
#define PAGER_PRINTF_FORMAT(format_index, first_value)
#endif

// Prints one message with one formatted print and writes it out at once,
// wherever standard output goes (a console, a file, a pipe), so that
// progress dots show the moment they are printed and a run that is killed
// leaves all it had printed. The message goes into the run log too
// (console/run_log.h) while one is written.
PAGER_PRINTF_FORMAT(1, 2) void say(const char* format, ...);

// Writes the UTF-8 text `text` to standard output, after what is held
// there. On a Windows console it goes as UTF-16 (WriteConsoleW), so that the
// system's messages in the user's language show whatever the console's code
// page; everywhere else, the bytes as they are.
void put_text(const char* text);

// True when standard output is a console (a terminal on POSIX, a console
// window on Windows; the NUL device and /dev/null are not consoles).
bool stdout_is_console();

// Prints "\nPress any key ..." and waits for one key press on the console
// keyboard, never on standard input. The key is consumed whole (all bytes of
// an escape sequence) and not echoed; Ctrl+C counts as a key. A key pressed
// earlier in the run and still waiting ends the wait at once. The console's
// settings are the same afterwards as before. When there is no console to
// read, the wait ends at once. Never spins the CPU.
void wait_key();
