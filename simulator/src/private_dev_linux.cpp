#include "simulator/private_dev.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace {

// What the child tells the parent when it cannot go on. The child writes one
// record to a close-on-exec pipe; a successful exec closes the pipe instead.
enum Stage {
    kStageUnshare = 1,  // err: CLONE_NEWNS alone, err2: with CLONE_NEWUSER
    kStageIdMap,        // item: 0 setgroups, 1 uid_map, 2 gid_map
    kStagePrivate,
    kStageOpen,  // item: index into the node plan
    kStageTmpfs,
    kStageMountPoint,  // item: index into the node plan
    kStageBind,        // item: index into the node plan
    kStageSymlink,     // item: index into kLinks
    kStageExec,
};

struct ChildReport {
    int stage = 0;
    int item = 0;
    int err = 0;
    int err2 = 0;
};

// Nodes taken over from the real /dev.
const char* const kStandardNodes[] = {"null", "zero", "full", "random", "urandom", "tty", "ptmx"};
const char* const kStandardDirs[] = {"pts", "shm"};

struct Link {
    const char* path;
    const char* target;
};
const Link kLinks[] = {{"/dev/fd", "/proc/self/fd"},
                       {"/dev/stdin", "/proc/self/fd/0"},
                       {"/dev/stdout", "/proc/self/fd/1"},
                       {"/dev/stderr", "/proc/self/fd/2"}};

// One node of the new /dev, with every string made before fork so that the
// child does not allocate.
struct PlannedNode {
    std::string target;  // "/dev/null"
    std::string source;  // the real node, "/dev/null" or "/dev/pts/3"
    bool directory = false;
    char fd_path[32] = {};  // "/proc/self/fd/<n>", filled in by the child
};

void write_all(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
}

[[noreturn]] void child_fail(int report_fd, int stage, int item, int err, int err2 = 0) {
    ChildReport report;
    report.stage = stage;
    report.item = item;
    report.err = err;
    report.err2 = err2;
    write_all(report_fd, &report, sizeof report);
    _exit(127);
}

bool write_file(const char* path, const char* text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const size_t size = std::strlen(text);
    const ssize_t n = write(fd, text, size);
    const int saved = errno;
    close(fd);
    errno = saved;
    return n == static_cast<ssize_t>(size);
}

// Writes "/proc/self/fd/<fd>" into `out` (32 bytes) without allocating.
void format_fd_path(int fd, char* out) {
    const char prefix[] = "/proc/self/fd/";
    std::memcpy(out, prefix, sizeof prefix - 1);
    char digits[12];
    int count = 0;
    unsigned value = static_cast<unsigned>(fd);
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char* p = out + sizeof prefix - 1;
    while (count > 0) {
        *p++ = digits[--count];
    }
    *p = '\0';
}

// The child's side: runs between fork and exec, so it only makes system
// calls on data prepared beforehand.
[[noreturn]] void child_main(int report_fd, std::vector<PlannedNode>& nodes, char* const* argv,
                             const char* uid_map, const char* gid_map) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGINT, &dfl, nullptr);
    sigaction(SIGQUIT, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    if (unshare(CLONE_NEWNS) != 0) {
        const int err = errno;
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            child_fail(report_fd, kStageUnshare, 0, err, errno);
        }
        if (!write_file("/proc/self/setgroups", "deny") && errno != ENOENT) {
            child_fail(report_fd, kStageIdMap, 0, errno);
        }
        if (!write_file("/proc/self/uid_map", uid_map)) {
            child_fail(report_fd, kStageIdMap, 1, errno);
        }
        if (!write_file("/proc/self/gid_map", gid_map)) {
            child_fail(report_fd, kStageIdMap, 2, errno);
        }
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        child_fail(report_fd, kStagePrivate, 0, errno);
    }
    // Sources are opened in the new namespace: a bind mount takes its source
    // from the caller's own namespace only. Once /dev is covered they stay
    // reachable through their descriptors.
    for (size_t i = 0; i < nodes.size(); ++i) {
        PlannedNode& node = nodes[i];
        const int flags = O_PATH | O_CLOEXEC | (node.directory ? O_DIRECTORY : 0);
        const int fd = open(node.source.c_str(), flags);
        if (fd < 0) {
            child_fail(report_fd, kStageOpen, static_cast<int>(i), errno);
        }
        format_fd_path(fd, node.fd_path);
    }
    if (mount("devsim", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755,size=64k") != 0) {
        child_fail(report_fd, kStageTmpfs, 0, errno);
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
        const PlannedNode& node = nodes[i];
        const char* target = node.target.c_str();
        if (node.directory) {
            if (mkdir(target, 0755) != 0) {
                child_fail(report_fd, kStageMountPoint, static_cast<int>(i), errno);
            }
        } else {
            const int fd = open(target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0) {
                child_fail(report_fd, kStageMountPoint, static_cast<int>(i), errno);
            }
            close(fd);
        }
        const unsigned long flags = MS_BIND | (node.directory ? MS_REC : 0);
        if (mount(node.fd_path, target, nullptr, flags, nullptr) != 0) {
            child_fail(report_fd, kStageBind, static_cast<int>(i), errno);
        }
    }
    for (size_t i = 0; i < sizeof kLinks / sizeof kLinks[0]; ++i) {
        if (symlink(kLinks[i].target, kLinks[i].path) != 0) {
            child_fail(report_fd, kStageSymlink, static_cast<int>(i), errno);
        }
    }
    execvp(argv[0], argv);
    child_fail(report_fd, kStageExec, 0, errno);
}

std::string error_text(int err) {
    return std::strerror(err);
}

std::string describe(const ChildReport& r, const std::vector<PlannedNode>& nodes,
                     const std::string& program) {
    const std::string prefix = "cannot make a private /dev: ";
    auto node = [&](int i) {
        return i >= 0 && static_cast<size_t>(i) < nodes.size() ? nodes[i].target : std::string("?");
    };
    switch (r.stage) {
        case kStageUnshare:
            return prefix + "unshare(CLONE_NEWNS): " + error_text(r.err) +
                   "; unshare(CLONE_NEWUSER|CLONE_NEWNS): " + error_text(r.err2) +
                   ". Neither a mount namespace (needs root) nor a user namespace is allowed"
                   " here; run as root, or enable user namespaces"
                   " (kernel.unprivileged_userns_clone=1, user.max_user_namespaces > 0).";
        case kStageIdMap: {
            const char* files[] = {"/proc/self/setgroups", "/proc/self/uid_map",
                                   "/proc/self/gid_map"};
            const int i = r.item >= 0 && r.item < 3 ? r.item : 0;
            return prefix + "writing " + files[i] +
                   " in a new user namespace: " + error_text(r.err);
        }
        case kStagePrivate:
            return prefix + "making / private: " + error_text(r.err);
        case kStageOpen:
            return prefix + "opening " +
                   (r.item >= 0 && static_cast<size_t>(r.item) < nodes.size() ? nodes[r.item].source
                                                                              : std::string("?")) +
                   ": " + error_text(r.err);
        case kStageTmpfs:
            return prefix + "mounting a tmpfs on /dev: " + error_text(r.err);
        case kStageMountPoint:
            return prefix + "creating " + node(r.item) + ": " + error_text(r.err);
        case kStageBind:
            return prefix + "bind-mounting " + node(r.item) + ": " + error_text(r.err);
        case kStageSymlink: {
            const int i = r.item >= 0 && r.item < 4 ? r.item : 0;
            return prefix + "creating the link " + kLinks[i].path + ": " + error_text(r.err);
        }
        case kStageExec:
            return "cannot run " + program + ": " + error_text(r.err);
        default:
            return prefix + "the child process ended unexpectedly";
    }
}

void plan_nodes(const std::vector<DevPort>& ports, std::vector<PlannedNode>* nodes) {
    auto add = [&](const std::string& name, const std::string& source, bool directory) {
        PlannedNode node;
        node.target = "/dev/" + name;
        node.source = source;
        node.directory = directory;
        nodes->push_back(node);
    };
    struct stat st {};
    for (const char* name : kStandardNodes) {
        const std::string source = "/dev/" + std::string(name);
        if (stat(source.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
            add(name, source, false);
        }
    }
    for (const char* name : kStandardDirs) {
        const std::string source = "/dev/" + std::string(name);
        if (stat(source.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            add(name, source, true);
        }
    }
    for (const DevPort& port : ports) {
        add(port.name, port.path, false);
    }
}

PrivateDevRun system_failure(const char* what) {
    PrivateDevRun run;
    run.failure = kPrivateDevSystemError;
    run.message = std::string(what) + ": " + std::strerror(errno);
    return run;
}

}  // namespace

PrivateDevRun start_with_private_dev(const std::vector<DevPort>& ports,
                                     const std::vector<std::string>& argv) {
    PrivateDevRun run;
    if (argv.empty()) {
        run.failure = kPrivateDevCannotRun;
        run.message = "no program given";
        return run;
    }
    std::vector<PlannedNode> nodes;
    plan_nodes(ports, &nodes);

    std::vector<std::string> args = argv;
    std::vector<char*> arg_pointers;
    for (std::string& arg : args) {
        arg_pointers.push_back(arg.data());
    }
    arg_pointers.push_back(nullptr);
    const std::string uid_map = std::to_string(geteuid()) + " " + std::to_string(geteuid()) + " 1";
    const std::string gid_map = std::to_string(getegid()) + " " + std::to_string(getegid()) + " 1";

    int report_pipe[2];
    if (pipe2(report_pipe, O_CLOEXEC) != 0) {
        return system_failure("pipe");
    }
    const pid_t pid = fork();
    if (pid < 0) {
        const PrivateDevRun failed = system_failure("fork");
        close(report_pipe[0]);
        close(report_pipe[1]);
        return failed;
    }
    if (pid == 0) {
        close(report_pipe[0]);
        child_main(report_pipe[1], nodes, arg_pointers.data(), uid_map.c_str(), gid_map.c_str());
    }
    close(report_pipe[1]);

    ChildReport report;
    size_t got = 0;
    while (got < sizeof report) {
        const ssize_t n =
            read(report_pipe[0], reinterpret_cast<char*>(&report) + got, sizeof report - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    close(report_pipe[0]);
    if (got == 0) {
        run.pid = pid;  // the pipe closed on exec: the program runs
        return run;
    }
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    run.failure = report.stage == kStageExec ? kPrivateDevCannotRun : kPrivateDevNoNamespace;
    run.message = describe(report, nodes, argv[0]);
    return run;
}
