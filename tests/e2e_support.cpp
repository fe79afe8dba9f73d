#include "e2e_support.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef DEVSIM_PATH
#error "DEVSIM_PATH must name the devsim program"
#endif

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Redirects `fd` to `path`, opened with `flags`, in the child.
void redirect(int fd, const char* path, int flags) {
    const int opened = open(path, flags, 0644);
    if (opened >= 0) {
        dup2(opened, fd);
        close(opened);
    }
}

// Waits for `pid` up to `timeout_ms`. Returns true with its status when it
// ended in time. Sleeps in poll() on a pidfd; where there is none, in short
// naps between checks.
bool wait_bounded(pid_t pid, int timeout_ms, int* status) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        const pid_t done = waitpid(pid, status, WNOHANG);
        if (done == pid) {
            if (pidfd >= 0) {
                close(pidfd);
            }
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            if (pidfd >= 0) {
                close(pidfd);
            }
            return false;
        }
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(left < 20 ? left : 20));
        }
    }
}

// Reads devsim's byte log: "<ms> rx|tx <HEX>[ ttyUSB<k>]" per line.
void parse_log(const std::string& text, E2eRun* run) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        double ms = 0;
        char direction[3] = {};
        unsigned byte = 0;
        char port[32] = {};
        const int fields =
            std::sscanf(line.c_str(), "%lf %2s %x %31s", &ms, direction, &byte, port);
        if (fields < 3) {
            continue;
        }
        const WireByte wire{ms, static_cast<std::uint8_t>(byte)};
        const bool sent = std::strcmp(direction, "tx") == 0;
        if (fields == 4) {
            int k = -1;
            if (std::sscanf(port, "ttyUSB%d", &k) == 1 && k >= 0 && k < 64 && !sent) {
                if (run->silent_rx.size() <= static_cast<std::size_t>(k)) {
                    run->silent_rx.resize(static_cast<std::size_t>(k) + 1);
                }
                run->silent_rx[static_cast<std::size_t>(k)].push_back(wire);
            }
            continue;
        }
        (sent ? run->tx : run->rx).push_back(wire);
    }
}

}  // namespace

E2eRun run_with_device(const std::string& program, const std::vector<std::string>& devsim_args,
                       const std::string& workdir, int timeout_ms,
                       const std::vector<std::string>& program_args) {
    E2eRun run;
    const std::string log_path = workdir + "/devsim.log";
    const std::string out_path = workdir + "/stdout.txt";
    const std::string err_path = workdir + "/stderr.txt";

    std::vector<std::string> args = {DEVSIM_PATH};
    args.insert(args.end(), devsim_args.begin(), devsim_args.end());
    args.insert(args.end(), {"--log", log_path, "--", program});
    args.insert(args.end(), program_args.begin(), program_args.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        run.err = std::string("fork: ") + std::strerror(errno);
        return run;
    }
    if (pid == 0) {
        setsid();  // no controlling terminal: the key wait ends at once
        if (chdir(workdir.c_str()) != 0) {
            _exit(126);
        }
        redirect(0, "/dev/null", O_RDONLY);
        redirect(1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
        redirect(2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (!wait_bounded(pid, timeout_ms, &status)) {
        kill(-pid, SIGKILL);  // devsim leads the session's process group
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        run.timed_out = true;
    } else if (WIFEXITED(status)) {
        run.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.exit_status = 128 + WTERMSIG(status);
    }
    run.out = read_file(out_path);
    run.err = read_file(err_path);
    parse_log(read_file(log_path), &run);
    return run;
}

bool namespaces_available(std::string* why) {
    static int known = -1;
    static std::string reason;
    if (known < 0) {
        const std::string dir = make_workdir();
        const E2eRun run = run_with_device("true", {"--absent"}, dir, 30000);
        remove_workdir(dir);
        known = run.exit_status == 77 ? 0 : 1;
        reason = run.err;
        while (!reason.empty() && reason.back() == '\n') {
            reason.pop_back();
        }
    }
    if (known == 0 && why != nullptr) {
        *why = reason;
    }
    return known == 1;
}

std::string make_workdir() {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) {
        base = "/tmp";
    }
    std::string pattern = (base / "pager_e2e_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return "";
    }
    return pattern;
}

void remove_workdir(const std::string& workdir) {
    std::error_code ignored;
    std::filesystem::remove_all(workdir, ignored);
}

std::vector<std::uint8_t> bytes_of(const std::vector<WireByte>& wire) {
    std::vector<std::uint8_t> bytes;
    for (const WireByte& w : wire) {
        bytes.push_back(w.byte);
    }
    return bytes;
}

std::string found_on(int port, int dots) {
    return "\nWait sync ..." + std::string(dots, '.') + "found on COM" + std::to_string(port) +
           " ok.";
}

std::vector<std::uint8_t> after_sync(const E2eRun& run) {
    const std::vector<std::uint8_t> bytes = bytes_of(run.rx);
    std::size_t i = 0;
    while (i < bytes.size() && i < 20 && bytes[i] == 0xFF) {
        ++i;
    }
    return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.end());
}
