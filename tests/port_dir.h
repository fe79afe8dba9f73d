// A throw-away /dev, /sys/class/tty and lock directory for SerialGate, so a
// test decides which ports the machine has and which are locked.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "serial_link/port_paths.h"

// A child process that waits until killed, whose PID's lowest byte is an
// ASCII digit: the PID as a 4-byte binary lock file then starts as a text
// one would. -1 when fork fails.
inline pid_t child_with_digit_pid() {
    for (;;) {
        const pid_t child = fork();
        if (child == 0) {
            pause();
            _exit(0);
        }
        if (child < 0 || ((child & 0xFF) >= '0' && (child & 0xFF) <= '9')) {
            return child;
        }
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
}

class PortDir {
  public:
    PortDir() {
        char tmpl[] = "/tmp/portdir.XXXXXX";
        root_ = mkdtemp(tmpl);
        std::filesystem::create_directories(root_ / "dev");
        std::filesystem::create_directories(root_ / "sys");
        std::filesystem::create_directories(root_ / "lock");
    }
    ~PortDir() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    PortDir(const PortDir&) = delete;
    PortDir& operator=(const PortDir&) = delete;

    PortPaths paths() const {
        return PortPaths{(root_ / "dev").string(), (root_ / "sys").string(),
                         (root_ / "lock").string(), ""};
    }
    // The UUCP lock file of device `name`.
    std::filesystem::path lock(const std::string& name) const {
        return root_ / "lock" / ("LCK.." + name);
    }
    std::filesystem::path dev(const std::string& name) const { return root_ / "dev" / name; }

    // Makes dev/<name> a link to `target`.
    void link(const std::string& name, const std::string& target) const {
        std::filesystem::create_symlink(target, dev(name));
    }
    // Writes sys/<name>/type, as the kernel reports a UART type for ttyS<k>.
    void uart_type(const std::string& name, const std::string& type) const {
        std::filesystem::create_directories(root_ / "sys" / name);
        std::ofstream(root_ / "sys" / name / "type") << type << "\n";
    }

  private:
    std::filesystem::path root_;
};
