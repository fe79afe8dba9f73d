// A throw-away /dev and /sys/class/tty for SerialGate, so a test decides
// which ports the machine has.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "port_paths.h"

class PortDir {
  public:
    PortDir() {
        char tmpl[] = "/tmp/portdir.XXXXXX";
        root_ = mkdtemp(tmpl);
        std::filesystem::create_directories(root_ / "dev");
        std::filesystem::create_directories(root_ / "sys");
    }
    ~PortDir() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    PortDir(const PortDir&) = delete;
    PortDir& operator=(const PortDir&) = delete;

    PortPaths paths() const {
        return PortPaths{(root_ / "dev").string(), (root_ / "sys").string()};
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
