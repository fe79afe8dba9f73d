// The run log's file on Windows.
#include <windows.h>

#include <io.h>

#include <cerrno>
#include <cstring>

#include "run_log_file.h"

std::FILE* open_log_file(const char* path, std::string* why) {
    std::FILE* file = std::fopen(path, "a");
    if (file == nullptr) {
        *why = std::strerror(errno);
        return nullptr;
    }
    // A COM port or the console opens like a file; the log must not go there.
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (GetFileType(handle) == FILE_TYPE_CHAR) {
        *why = "a console or serial port, not a file";
        std::fclose(file);
        return nullptr;
    }
    return file;
}

bool broken_down_time(std::time_t when, std::tm* local, std::tm* utc) {
    return localtime_s(local, &when) == 0 && gmtime_s(utc, &when) == 0;
}
