#include "port_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

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

// The PID in the bytes of a lock file: ASCII digits with white space around
// them (HDB), or exactly 4 bytes of a binary integer (old UUCP). 0 when
// neither.
int parse_pid(const char* bytes, ssize_t size) {
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
    if (i > digits_start) {
        while (i < size && (bytes[i] == ' ' || bytes[i] == '\n' || bytes[i] == '\r')) {
            ++i;
        }
        return i == size && pid > 0 && pid <= INT32_MAX ? static_cast<int>(pid) : 0;
    }
    if (size == 4) {
        std::int32_t binary = 0;
        std::memcpy(&binary, bytes, 4);
        return binary > 0 ? binary : 0;
    }
    return 0;
}

// True when process `pid` is running, whether or not this process may
// signal it.
bool running(int pid) {
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// What the lock file at `path` says; see read_port_lock.
LockFileState read_lock_file(const std::string& path) {
    LockFileState state;
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
    state.live = running(state.pid);
    return state;
}

}  // namespace

LockFileState read_port_lock(const std::string& lock_dir, const std::string& name) {
    return read_lock_file(lock_path(lock_dir, name));
}

PortLock::~PortLock() {
    release();
}

PortLock::PortLock(PortLock&& other) noexcept
    : path_(std::move(other.path_)),
      device_(other.device_),
      inode_(other.inode_),
      held_(std::exchange(other.held_, false)) {}

PortLock& PortLock::operator=(PortLock&& other) noexcept {
    if (this != &other) {
        release();
        path_ = std::move(other.path_);
        device_ = other.device_;
        inode_ = other.inode_;
        held_ = std::exchange(other.held_, false);
    }
    return *this;
}

bool PortLock::take(const std::string& lock_dir, const std::string& name, int* holder) {
    release();
    const int self = static_cast<int>(getpid());
    const LockFileState found = read_port_lock(lock_dir, name);
    if (found.live && found.pid != self) {
        if (holder != nullptr) {
            *holder = found.pid;
        }
        return false;
    }
    if (found.present) {
        return true;  // stale: not ours to remove
    }
    const std::string path = lock_path(lock_dir, name);
    const int fd = open_no_follow(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        // Another program may have taken it just now. Any other failure (no
        // such directory, no permission) leaves the port unlocked.
        const bool exists = errno == EEXIST;
        const LockFileState now = read_port_lock(lock_dir, name);
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
    path_ = path;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    held_ = true;
    return true;
}

void PortLock::release() {
    if (!held_) {
        return;
    }
    held_ = false;
    // Only the file made by take, still holding this process's PID: a lock
    // that another program put in its place is not touched.
    struct stat st {};
    if (lstat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != device_ ||
        st.st_ino != inode_) {
        return;
    }
    if (read_lock_file(path_).pid == static_cast<int>(getpid())) {
        unlink(path_.c_str());
    }
}
