// The run log's file on POSIX.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "run_log_file.h"

namespace {

// True when `fd` is a character device that standard output or error is
// too: the user's own terminal, which may take the log.
bool own_stream(const struct stat& st) {
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat stream;
        if (fstat(fd, &stream) == 0 && S_ISCHR(stream.st_mode) && stream.st_rdev == st.st_rdev) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::FILE* open_log_file(const char* path, std::string* why) {
    // Not blocking: a FIFO without a reader is refused at once, not waited on.
    int fd;
    do {
        fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *why = errno == ENXIO ? "a FIFO that nobody reads" : std::strerror(errno);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || (isatty(fd) && !own_stream(st))) {
        *why = "a terminal or serial port, not a file";
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, "a");
    if (file == nullptr) {
        *why = std::strerror(errno);
        close(fd);
    }
    return file;
}

bool broken_down_time(std::time_t when, std::tm* local, std::tm* utc) {
    return localtime_r(&when, local) != nullptr && gmtime_r(&when, utc) != nullptr;
}
