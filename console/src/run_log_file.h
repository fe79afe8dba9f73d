// The platform half of the run log: opening its file and the local time.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

// Opens `path` for appending, creating it, and returns the stream, or
// nullptr with the reason in *why. A terminal or serial port is refused.
std::FILE* open_log_file(const char* path, std::string* why);

// The local time of `when` and the same moment in UTC; false when the
// system cannot give them.
bool broken_down_time(std::time_t when, std::tm* local, std::tm* utc);
