// The time left, in the console window's title while a run goes on, off
// standard output: "brisko: clearing 1,234 of 24,750, about 31 min left".
#pragma once

#include <cstdint>
#include <string>

// The title for step `step` ("clearing") at `done` of `total`, with `ms_left`
// still to go: "<program>: <step> <done> of <total>, about <n> min left",
// the counts with thousands separated by commas, n rounded to the nearest
// minute; "less than a minute left" under 30 s.
std::string time_left_text(const char* program, const char* step, long done, long total,
                           std::int64_t ms_left);

// Shows time_left_text in the title at most once a second: the first call,
// then a call at least 1 s (on the caller's steady clock, `now_us`) after the
// last title shown. The title found before the first is kept, to be put back.
// Windows: the console's title (SetConsoleTitle). POSIX: the title sequence
// to the controlling terminal, only when standard output is a terminal and
// the process is in its foreground, the old title kept on xterm's title
// stack. Nothing is shown where none of this holds. Never waits on the
// terminal.
void show_time_left(const char* program, const char* step, long done, long total,
                    std::int64_t ms_left, std::int64_t now_us);

// Puts back the title found before the first show_time_left; does nothing
// when none was shown. A show_time_left after it starts afresh. Every way out of a run calls it
// (the key prompt, the end of main, an interruption).
void put_back_title();
