// UUCP lock files: how minicom, picocom, screen and other terminal programs
// mark a serial port as theirs. The file LCK..<name> in the lock directory
// (/var/lock) holds the owner's PID, in the HDB form: ten ASCII characters,
// the PID right-aligned, and a line feed. Older programs (old UUCP, kermit)
// write the PID as a 4-byte binary integer; a file of exactly 4 bytes is
// read as that, whatever its first byte.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The lock file this process made for the port it holds. Never copied; the
// destructor releases it.
class PortLock {
  public:
    PortLock() = default;
    ~PortLock();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // Takes the lock of the device at `device_path` in `lock_dir` for this
    // process, under the device's own name (ttyUSB31) and, when that is a
    // link, under the name it finally leads to (rfcomm0) as well. Returns
    // false, taking nothing, when another running process holds either.
    // Otherwise returns true: with this process's own lock files made, or
    // without one where none can be made (the directory is missing or not
    // writable, or a stale or foreign file is in the way, which is left
    // alone). A file is created without following links, without blocking
    // and without replacing anything (O_CREAT | O_EXCL | O_NOFOLLOW |
    // O_NONBLOCK). On false, *holder (when not null) gets the holder's PID.
    bool take(const std::string& lock_dir, const std::string& device_path, int* holder = nullptr);

    // Removes the lock files made by take, each provided the file of that
    // name is still the one made and still holds this process's PID. Does
    // nothing when none was made.
    void release();

  private:
    struct MadeFile {
        std::string path;
        dev_t device = 0;
        ino_t inode = 0;
    };
    // Takes the lock file at `path`, as take does for one name.
    bool take_file(const std::string& path, int* holder);

    std::vector<MadeFile> made_;
};
