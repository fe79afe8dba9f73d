// UUCP lock files: how minicom, picocom, screen and other terminal programs
// mark a serial port as theirs. The file LCK..<name> in the lock directory
// (/var/lock) holds the owner's PID, in the HDB form: ten ASCII characters,
// the PID right-aligned, and a line feed. Older programs write the PID as a
// 4-byte binary integer; both forms are read.
#pragma once

#include <sys/types.h>

#include <string>

// What the lock file of one port says.
struct LockFileState {
    bool present = false;  // a regular file of that name exists
    bool live = false;     // it holds the PID of a process that is running
    int pid = 0;           // the PID it holds, 0 when none could be read
};

// Reads the lock file of device `name` (ttyUSB0) in `lock_dir`. A file that
// is not a regular file (a planted link, say) is never followed and counts
// as no lock file; one whose PID cannot be read counts as stale.
LockFileState read_port_lock(const std::string& lock_dir, const std::string& name);

// The lock file this process made for the port it holds. Move-only; the
// destructor releases it.
class PortLock {
  public:
    PortLock() = default;
    ~PortLock();
    PortLock(PortLock&& other) noexcept;
    PortLock& operator=(PortLock&& other) noexcept;
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // Takes the lock of device `name` in `lock_dir` for this process.
    // Returns false, taking nothing, when another running process holds it.
    // Otherwise returns true: with this process's own lock file made, or
    // without one where none can be made (the directory is missing or not
    // writable, or a stale or foreign file is in the way, which is left
    // alone). The file is created without following links and without
    // replacing anything (O_CREAT | O_EXCL | O_NOFOLLOW). On false, *holder
    // (when not null) gets the holder's PID.
    bool take(const std::string& lock_dir, const std::string& name, int* holder = nullptr);

    // Removes the lock file made by take, provided the file of that name is
    // still the one made and still holds this process's PID. Does nothing
    // when none was made.
    void release();

    // True while this process's own lock file is held.
    bool held() const { return held_; }

  private:
    std::string path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool held_ = false;
};
