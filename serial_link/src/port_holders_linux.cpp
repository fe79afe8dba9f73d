// Who else has a port, on Linux: /proc/<pid>/fd for the processes that hold
// it, /proc/<pid>/stat for zombies and for this process's terminal.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
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

// The pseudo-terminal multiplexer, /dev/ptmx: every master descriptor is
// one of it.
constexpr unsigned kPtmxMinor = 2;

// One look through /proc: every character device each process holds for
// reading or writing, and the pseudo-terminals whose master it holds. Taken
// once for a whole walk over the ports, since one look costs a stat of every
// descriptor of every process on the machine.
struct Census {
    bool taken = false;
    std::vector<std::pair<dev_t, int>> held;    // (device, PID), ascending
    std::vector<std::pair<long, int>> masters;  // (pty index, PID)
};

Census& census() {
    static Census c;
    return c;
}

// Notes what process `pid` holds in `into`.
void look_at_process(int pid, Census* into) {
    const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
    const int dir_fd = open(fd_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* fds = dir_fd >= 0 ? fdopendir(dir_fd) : nullptr;
    if (fds == nullptr) {
        if (dir_fd >= 0) {
            close(dir_fd);
        }
        return;  // not ours to see
    }
    while (const dirent* entry = readdir(fds)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        // Relative to the open directory, and only what names a device is
        // looked at further: most descriptors are files, pipes and sockets.
        char target[16] = {};
        const ssize_t length = readlinkat(dir_fd, entry->d_name, target, sizeof target - 1);
        struct stat st {};
        if (length < 5 || std::strncmp(target, "/dev/", 5) != 0 ||
            fstatat(dir_fd, entry->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode)) {
            continue;
        }
        if (major(st.st_rdev) == kTtyMajor && minor(st.st_rdev) == kPtmxMinor) {
            std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + entry->d_name);
            for (std::string line; std::getline(info, line);) {
                if (line.rfind("tty-index:", 0) == 0) {
                    into->masters.emplace_back(std::strtol(line.c_str() + 10, nullptr, 10), pid);
                }
            }
        } else if (opened_for_io(pid, entry->d_name)) {
            into->held.emplace_back(st.st_rdev, pid);
        }
    }
    closedir(fds);
}

Census take_census() {
    Census taken;
    taken.taken = true;
    const int self = static_cast<int>(getpid());
    for (const int pid : process_ids()) {
        if (pid != self) {
            look_at_process(pid, &taken);
        }
    }
    std::sort(taken.held.begin(), taken.held.end());
    taken.held.erase(std::unique(taken.held.begin(), taken.held.end()), taken.held.end());
    return taken;
}

// The holders of device `rdev` in `from`, the far end of a pseudo-terminal
// left out.
std::vector<PortHolder> holders_in(const Census& from, dev_t rdev) {
    std::vector<PortHolder> holders;
    const long index = pty_index(rdev);
    for (const auto& [device, pid] : from.held) {
        const bool far_end =
            index >= 0 && std::any_of(from.masters.begin(), from.masters.end(), [&](const auto& m) {
                return m.first == index && m.second == pid;
            });
        if (device == rdev && !far_end) {
            holders.push_back(PortHolder{pid, process_command(pid)});
        }
    }
    return holders;
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

void begin_holder_census() {
    census() = take_census();
}

void end_holder_census() {
    census() = Census{};
}

std::vector<PortHolder> port_holders(const std::string& device_path) {
    struct stat device {};
    if (stat(device_path.c_str(), &device) != 0 || !S_ISCHR(device.st_mode) ||
        users_terminal(device.st_rdev)) {
        return {};  // never opened: whoever else holds it does not matter
    }
    return holders_in(census().taken ? census() : take_census(), device.st_rdev);
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
