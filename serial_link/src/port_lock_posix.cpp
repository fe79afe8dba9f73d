#include "port_lock.h"

#include <limits.h>
#include <stdlib.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "other_users.h"

namespace {

// What the lock file of one port says.
struct LockFileState {
    bool present = false;  // a regular file of that name exists
    bool live = false;     // it holds the PID of a running process (not a zombie)
    int pid = 0;           // the PID it holds, 0 when none could be read
};

// Longest lock file read: the HDB form is 11 bytes.
constexpr int kMaxLockBytes = 64;

std::string lock_path(const std::string& lock_dir, const std::string& name) {
    return lock_dir + "/LCK.." + name;
}

int open_no_follow(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The PID in the bytes of a lock file: exactly 4 bytes are a binary integer
// (old UUCP), anything else ASCII digits with white space around them (HDB).
// 0 when neither.
int parse_pid(const char* bytes, ssize_t size) {
    if (size == 4) {
        std::int32_t binary = 0;
        std::memcpy(&binary, bytes, 4);
        return binary > 0 ? binary : 0;
    }
    std::int64_t pid = 0;  // room for 11 digits where long has 32 bits
    ssize_t i = 0;
    while (i < size && (bytes[i] == ' ' || bytes[i] == '\t')) {
        ++i;
    }
    const ssize_t digits_start = i;
    while (i < size && bytes[i] >= '0' && bytes[i] <= '9' && pid < 100000000000) {
        pid = pid * 10 + (bytes[i] - '0');
        ++i;
    }
    while (i < size && (bytes[i] == ' ' || bytes[i] == '\n' || bytes[i] == '\r')) {
        ++i;
    }
    return i > digits_start && i == size && pid > 0 && pid <= INT32_MAX ? static_cast<int>(pid) : 0;
}

// What the lock file at `path` says. Anything that is not a regular file (a
// planted link, a FIFO, a directory, a device) is never opened and counts as
// no lock file; a file whose PID cannot be read counts as stale.
LockFileState read_lock_file(const std::string& path) {
    LockFileState state;
    struct stat named {};
    if (lstat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) {
        return state;  // opening a FIFO or a device could block or act
    }
    const int fd = open_no_follow(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        return state;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return state;
    }
    state.present = true;
    char bytes[kMaxLockBytes];
    ssize_t size;
    do {
        size = read(fd, bytes, sizeof bytes);
    } while (size < 0 && errno == EINTR);
    close(fd);
    state.pid = size > 0 ? parse_pid(bytes, size) : 0;
    state.live = process_alive(state.pid);
    return state;
}

// The names under which the device at `device_path` is locked: its own and,
// when it is a link, the name it finally leads to.
std::vector<std::string> lock_names(const std::string& device_path) {
    std::vector<std::string> names{device_path.substr(device_path.rfind('/') + 1)};
    char target[PATH_MAX];
    if (realpath(device_path.c_str(), target) != nullptr) {
        const std::string target_path = target;
        const std::string name = target_path.substr(target_path.rfind('/') + 1);
        if (name != names.front()) {
            names.push_back(name);
        }
    }
    return names;
}

}  // namespace

PortLock::~PortLock() {
    release();
}

bool PortLock::take(const std::string& lock_dir, const std::string& device_path, int* holder) {
    release();
    for (const std::string& name : lock_names(device_path)) {
        if (!take_file(lock_path(lock_dir, name), holder)) {
            release();
            return false;
        }
    }
    return true;
}

bool PortLock::take_file(const std::string& path, int* holder) {
    const int self = static_cast<int>(getpid());
    const LockFileState found = read_lock_file(path);
    if (found.live && found.pid != self) {
        if (holder != nullptr) {
            *holder = found.pid;
        }
        return false;
    }
    if (found.present) {
        return true;  // stale: not ours to remove
    }
    const int fd = open_no_follow(path, O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK, 0644);
    if (fd < 0) {
        // Another program may have taken it just now. Any other failure (no
        // such directory, no permission, something other than a file in the
        // way) leaves the port unlocked.
        const bool exists = errno == EEXIST;
        const LockFileState now = read_lock_file(path);
        if (exists && now.live && now.pid != self) {
            if (holder != nullptr) {
                *holder = now.pid;
            }
            return false;
        }
        return true;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", self);
    struct stat st {};
    const bool made = fstat(fd, &st) == 0;
    const bool written = made && write(fd, text, static_cast<size_t>(length)) == length;
    close(fd);
    struct stat named {};
    if (!written) {
        // Half a lock file is worse than none; the name still being the file
        // made here is checked, as in release.
        if (made && lstat(path.c_str(), &named) == 0 && named.st_dev == st.st_dev &&
            named.st_ino == st.st_ino) {
            unlink(path.c_str());
        }
        return true;
    }
    made_.push_back(MadeFile{path, st.st_dev, st.st_ino});
    return true;
}

void PortLock::release() {
    // Only the files made by take, still holding this process's PID: a lock
    // that another program put in the place of one is not touched.
    for (const MadeFile& file : std::exchange(made_, {})) {
        struct stat st {};
        if (lstat(file.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_dev != file.device || st.st_ino != file.inode) {
            continue;
        }
        if (read_lock_file(file.path).pid == static_cast<int>(getpid())) {
            unlink(file.path.c_str());
        }
    }
}
