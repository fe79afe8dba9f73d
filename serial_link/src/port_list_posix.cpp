// The port list on POSIX systems: the serial device nodes found in dev_dir.

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <string>

#include "port_list.h"
#include "port_names_posix.h"

namespace {

// True when `path`, after following links, is a character device. Decided by
// stat() rather than by directory entry types, so that udev links and nodes
// bind-mounted over plain files count as what they lead to.
bool is_char_device(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// True when the kernel reports a UART behind ttyS device `name`: its
// sys_tty_dir/<name>/type holds a non-zero integer. Legacy ttyS nodes exist
// whether or not hardware is there, and opening an empty one can stall, so
// the answer comes from sysfs and the port itself is never touched.
bool has_uart(const std::string& sys_tty_dir, const std::string& name) {
    std::ifstream type_file(sys_tty_dir + "/" + name + "/type");
    long type = 0;
    return static_cast<bool>(type_file >> type) && type != 0;
}

}  // namespace

void fill_port_list(const PortPaths& paths, PortInfo* info) {
    std::memset(info->bytes, 0, sizeof(info->bytes));
    int count = 0;
    for (const PortFamily& family : kPortFamilies) {
        bool legacy_uart = std::strcmp(family.prefix, "ttyS") == 0;
        for (int k = 0; k < kPortsPerFamily && count < PortInfo::kMaxEntries; ++k) {
            std::string name = family.prefix + std::to_string(k);
            if (!is_char_device(paths.dev_dir + "/" + name)) {
                continue;
            }
            bool probe = !legacy_uart || has_uart(paths.sys_tty_dir, name);
            info->bytes[2 * count] = static_cast<std::uint8_t>(family.first_port + k);
            info->bytes[2 * count + 1] = probe ? 1 : 0;
            ++count;
        }
    }
    info->bytes[PortInfo::kCountOffset] = static_cast<std::uint8_t>(count);
}
