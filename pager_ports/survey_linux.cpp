// What Linux can tell about a serial port without opening it: its node's
// group, the user's groups, who holds it (/proc), and the machine around it.
#include <dirent.h>
#include <errno.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "serial_link/port_holders.h"
#include "serial_link/port_paths.h"
#include "survey.h"

namespace {

std::string read_first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool process_running(const char* name) {
    for (const int pid : process_ids()) {
        if (process_command(pid) == name) {
            return true;
        }
    }
    return false;
}

bool has_group(gid_t gid) {
    if (getegid() == gid) {
        return true;
    }
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    const int got = count > 0 ? getgroups(count, groups.data()) : 0;
    for (int i = 0; i < got; ++i) {
        if (groups[static_cast<std::size_t>(i)] == gid) {
            return true;
        }
    }
    return false;
}

// Whether the user database gives the real user group `gid`: what a new
// login of the user would have.
bool user_has_group(gid_t gid) {
    const passwd* user = getpwuid(getuid());
    if (user == nullptr) {
        return false;
    }
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
            return false;
        }
    }
    for (int i = 0; i < count; ++i) {
        if (groups[static_cast<std::size_t>(i)] == gid) {
            return true;
        }
    }
    return false;
}

// The names the port list tries, with no directory: ttyS0 and the like.
std::set<std::string> tried_names(const PortPaths& paths) {
    std::set<std::string> names;
    for (int port = 1; port <= PortInfo::kMaxEntries; ++port) {
        const std::string path = port_device_path(paths, port);
        if (!path.empty()) {
            names.insert(path.substr(path.rfind('/') + 1));
        }
    }
    return names;
}

// True for the name of a serial node outside the port list: rfcomm<k>, or
// tty<Name><k> where <Name> starts and ends with a letter (ttyTHS1, ttyGS0,
// ttyS40, the vendor drivers' ttyCH341USB0). Virtual consoles (tty<k>), old
// BSD pseudo-terminals (ttyp0) and the list's own names do not count.
bool stray_serial_name(const std::string& name, const std::set<std::string>& tried) {
    const bool rfcomm = name.rfind("rfcomm", 0) == 0;
    if (tried.count(name) != 0 || (!rfcomm && name.rfind("tty", 0) != 0)) {
        return false;
    }
    const std::size_t start = rfcomm ? 6 : 3;
    std::size_t digits = name.size();
    while (digits > start && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) {
        --digits;
    }
    if (digits == name.size()) {
        return false;  // no number
    }
    const std::string prefix = name.substr(start, digits - start);
    if (rfcomm) {
        return prefix.empty();
    }
    const auto alpha = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
    const auto alnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    return (prefix.size() >= 2 || prefix == "S") && alpha(prefix.front()) && alpha(prefix.back()) &&
           std::all_of(prefix.begin(), prefix.end(), alnum);
}

std::vector<std::string> stray_nodes(const PortPaths& paths) {
    std::vector<std::string> found;
    const std::set<std::string> tried = tried_names(paths);
    DIR* dev = opendir(paths.dev_dir.c_str());
    if (dev == nullptr) {
        return found;
    }
    while (const dirent* entry = readdir(dev)) {
        const std::string name = entry->d_name;
        struct stat st {};
        if (stray_serial_name(name, tried) &&
            stat((paths.dev_dir + "/" + name).c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
            found.push_back(paths.dev_dir + "/" + name);
        }
    }
    closedir(dev);
    std::sort(found.begin(), found.end());
    return found;
}

bool under_wsl() {
    const std::string release = read_first_line("/proc/sys/kernel/osrelease");
    return release.find("microsoft") != std::string::npos ||
           release.find("Microsoft") != std::string::npos ||
           release.find("WSL") != std::string::npos;
}

bool in_container() {
    struct stat st {};
    return stat("/.dockerenv", &st) == 0 || stat("/run/.containerenv", &st) == 0 ||
           std::getenv("container") != nullptr;
}

}  // namespace

void describe_port(const PortPaths& paths, PortEntry* entry) {
    entry->device = port_device_path(paths, entry->port);
    if (entry->state != PortInfo::kStateProbe) {
        entry->state_note = "no UART";
    }
    struct stat st {};
    if (stat(entry->device.c_str(), &st) != 0) {
        return;
    }
    const group* owner = getgrgid(st.st_gid);
    entry->group = owner != nullptr ? owner->gr_name : std::to_string(st.st_gid);
    entry->group_known = true;
    entry->in_group = has_group(st.st_gid);
    entry->in_group_after_login = user_has_group(st.st_gid);
}

int latency_timer_ms(const PortPaths& paths, const PortEntry& entry) {
    // ftdi_sio's attribute of the port: /sys/class/tty/ttyUSB<n>/device is
    // /sys/bus/usb-serial/devices/ttyUSB<n>. Other drivers have none. While
    // vantel or brisko hold the port, the low-latency mode they set puts 1 ms
    // on the chip, whatever this says.
    const std::string name = entry.device.substr(entry.device.rfind('/') + 1);
    const std::string text =
        read_first_line(paths.sys_tty_dir + "/" + name + "/device/latency_timer");
    char* end = nullptr;
    const long ms = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && ms >= 0 && ms <= 255 ? static_cast<int>(ms) : -1;
}

void add_unlisted_ports(Survey* /*survey*/) {
    // Every name the port list looks for fits its numbers.
}

void find_holders(PortEntry* entry) {
    for (const PortHolder& holder : port_holders(entry->device)) {
        if (std::none_of(entry->holders.begin(), entry->holders.end(),
                         [&](const PortHolder& known) { return known.pid == holder.pid; })) {
            entry->holders.push_back(holder);
        }
    }
    for (PortHolder& holder : entry->holders) {
        if (holder.command.empty()) {
            holder.command = process_command(holder.pid);
        }
    }
}

std::string system_error_text(int error) {
    return std::strerror(error);
}

bool error_means_in_use(int error) {
    return error == EBUSY;
}

bool error_means_permission(int error) {
    return error == EACCES || error == EPERM;
}

void add_system_hints(const PortPaths& paths, const Survey& survey,
                      std::vector<std::string>* hints) {
    if (process_running("ModemManager")) {
        hints->push_back(
            "ModemManager is running: it opens new USB serial ports for some seconds after they "
            "appear. Without a mobile modem: sudo systemctl disable --now ModemManager.");
    }
    if (process_running("brltty")) {
        hints->push_back(
            "brltty is running: it claims some USB serial adapters (CH340/CH341). Without a "
            "braille display: sudo apt remove brltty.");
    }
    if (survey.ports.empty()) {
        std::string hint =
            "No serial port node at all: plug the adapter in and look at sudo dmesg.";
        if (under_wsl()) {
            hint +=
                " This is WSL, which sees no USB device of Windows by itself: attach the adapter "
                "with usbipd-win (usbipd attach --wsl), or run the Windows programs.";
        } else if (in_container()) {
            hint +=
                " This is a container: pass the port in from the host (docker run "
                "--device=/dev/ttyUSB0).";
        }
        hints->push_back(hint);
    }
    for (const PortEntry& entry : survey.ports) {
        const std::string name = entry.device.substr(entry.device.rfind('/') + 1);
        std::string control = paths.sys_tty_dir + "/" + name + "/device/../power/control";
        if (name.rfind("ttyACM", 0) == 0 && read_first_line(control) == "auto") {
            char resolved[PATH_MAX];
            if (realpath(control.c_str(), resolved) != nullptr) {
                control = resolved;
            }
            hints->push_back("COM" + std::to_string(entry.port) +
                             " may be suspended by the system in the middle of a run (USB "
                             "autosuspend), which then ends as \"line lost\": echo on | sudo "
                             "tee " +
                             control + " (the README says how to keep it so).");
        }
    }
    const std::vector<std::string> strays = stray_nodes(paths);
    if (!strays.empty()) {
        std::string list;
        for (const std::string& node : strays) {
            list += (list.empty() ? "" : ", ") + node;
        }
        hints->push_back("Serial nodes the programs never try: " + list +
                         ". They try ttyS, ttyUSB, ttyACM and ttyAMA 0 to 31 only; a link to the "
                         "node under one of those names (a udev SYMLINK rule) makes it a port.");
    }
}
