// Who else has a port, on Linux: /proc/<pid>/fd for the processes that hold
// it, /proc/<pid>/stat for zombies and for this process's terminal.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "other_users.h"

namespace {

// Unix98 pseudo-terminal slaves: majors 136 to 143, 256 minors each.
constexpr unsigned kPtySlaveMajor = 136;
constexpr unsigned kPtySlaveMajors = 8;
// /dev/tty and /dev/console are minors 0 and 1 of major 5; the virtual
// consoles tty0..tty63 share major 4 with the ttyS ports, which start at
// minor 64.
constexpr unsigned kTtyMajor = 5;
constexpr unsigned kVirtualConsoleMajor = 4;
constexpr unsigned kVirtualConsoles = 64;

// The fields of /proc/<pid>/stat after the command name, which may itself
// hold spaces and parentheses: field 3 (the state) first.
std::vector<std::string> stat_fields(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::vector<std::string> fields;
    const std::size_t name_end = line.rfind(')');
    if (name_end == std::string::npos) {
        return fields;
    }
    std::istringstream rest(line.substr(name_end + 1));
    for (std::string field; rest >> field;) {
        fields.push_back(field);
    }
    return fields;
}

// The index of the pseudo-terminal whose slave is device `rdev`, -1 for
// any other device.
long pty_index(dev_t rdev) {
    const unsigned major_number = major(rdev);
    if (major_number < kPtySlaveMajor || major_number >= kPtySlaveMajor + kPtySlaveMajors) {
        return -1;
    }
    return static_cast<long>((major_number - kPtySlaveMajor) * 256 + minor(rdev));
}

// True when descriptor `fd_name` of process `pid` is the master of
// pseudo-terminal `index`: its fdinfo names the index.
bool is_pty_master(int pid, const std::string& fd_name, long index) {
    std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + fd_name);
    for (std::string line; std::getline(info, line);) {
        if (line.rfind("tty-index:", 0) == 0) {
            return std::strtol(line.c_str() + 10, nullptr, 10) == index;
        }
    }
    return false;
}

// True when descriptor `fd_name` of process `pid` can read or write: one
// opened with O_PATH only names the device (a private /dev being set up
// holds such names) and takes no byte from it.
bool opened_for_io(int pid, const std::string& fd_name) {
    std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + fd_name);
    for (std::string line; std::getline(info, line);) {
        if (line.rfind("flags:", 0) == 0) {
            return (std::strtoul(line.c_str() + 6, nullptr, 8) & O_PATH) == 0;
        }
    }
    return true;  // gone meanwhile, or not told: count it
}

// What process `pid` has of device `rdev`: whether it holds the device, and
// whether it holds the master of the pseudo-terminal `index` (-1: none).
void look_at_process(int pid, dev_t rdev, long index, bool* holds, bool* far_end) {
    const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = opendir(fd_dir.c_str());
    if (fds == nullptr) {
        return;  // not ours to see
    }
    while (const dirent* entry = readdir(fds)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        struct stat st {};
        if (stat((fd_dir + "/" + entry->d_name).c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
            continue;
        }
        if (st.st_rdev == rdev && opened_for_io(pid, entry->d_name)) {
            *holds = true;
        } else if (index >= 0 && is_pty_master(pid, entry->d_name, index)) {
            *far_end = true;
        }
    }
    closedir(fds);
}

// True when device `rdev` is a terminal this process talks to its user on,
// or the console.
bool users_terminal(dev_t rdev) {
    if ((major(rdev) == kTtyMajor && minor(rdev) <= 1) ||
        (major(rdev) == kVirtualConsoleMajor && minor(rdev) < kVirtualConsoles)) {
        return true;
    }
    // Field 7 of /proc/self/stat: the controlling terminal's device number.
    const std::vector<std::string> fields = stat_fields(static_cast<int>(getpid()));
    if (fields.size() > 4 && std::strtoul(fields[4].c_str(), nullptr, 10) == rdev) {
        return true;
    }
    for (int fd = 0; fd <= 2; ++fd) {
        struct stat st {};
        if (isatty(fd) && fstat(fd, &st) == 0 && st.st_rdev == rdev) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<int> process_ids() {
    std::vector<int> pids;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return pids;
    }
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid > 0 && end != nullptr && *end == '\0') {
            pids.push_back(static_cast<int>(pid));
        }
    }
    closedir(proc);
    std::sort(pids.begin(), pids.end());
    return pids;
}

bool process_alive(int pid) {
    if (pid <= 0) {
        return false;
    }
    const std::vector<std::string> fields = stat_fields(pid);
    return !fields.empty() && fields[0] != "Z" && fields[0] != "X";
}

std::string process_command(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string line;
    std::getline(in, line);
    return line;
}

std::vector<PortHolder> port_holders(const std::string& device_path) {
    std::vector<PortHolder> holders;
    struct stat device {};
    if (stat(device_path.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) {
        return holders;
    }
    const long index = pty_index(device.st_rdev);
    const int self = static_cast<int>(getpid());
    for (const int pid : process_ids()) {
        bool holds = false;
        bool far_end = false;
        if (pid != self) {
            look_at_process(pid, device.st_rdev, index, &holds, &far_end);
        }
        if (holds && !far_end) {
            holders.push_back(PortHolder{pid, process_command(pid)});
        }
    }
    return holders;
}

bool free_of_other_users(const std::string& device_path, OpenFailure* failure) {
    struct stat device {};
    if (stat(device_path.c_str(), &device) == 0 && S_ISCHR(device.st_mode) &&
        users_terminal(device.st_rdev)) {
        *failure = OpenFailure{OpenFailure::kConsole, 0, 0};
        return false;
    }
    const std::vector<PortHolder> holders = port_holders(device_path);
    if (!holders.empty()) {
        *failure = OpenFailure{OpenFailure::kOpenElsewhere, 0, holders.front().pid};
        return false;
    }
    return true;
}
