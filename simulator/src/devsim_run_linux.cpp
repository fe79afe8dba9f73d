#include "simulator/devsim_run.h"

#include "console/deadline.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string read_text(const std::string& path) {
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
// ended in time.
bool wait_bounded(pid_t pid, int timeout_ms, int* status) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    bool ended = false;
    for (;;) {
        if (waitpid(pid, status, WNOHANG) == pid) {
            ended = true;
            break;
        }
        const int left = ms_until(deadline);
        if (left == 0) {
            break;
        }
        // Without a pidfd (old kernels) the poll only times the next look.
        pollfd p{pidfd, POLLIN, 0};
        poll(&p, 1,
             pidfd >= 0 ? static_cast<int>(left) : static_cast<int>(std::min<long>(left, 20)));
    }
    if (pidfd >= 0) {
        close(pidfd);
    }
    return ended;
}

}  // namespace

DevsimRun run_under_devsim(const std::string& devsim, const std::vector<std::string>& devsim_args,
                           const std::string& program, const std::vector<std::string>& program_args,
                           const std::string& workdir, int timeout_ms) {
    DevsimRun run;
    const std::string log_path = workdir + "/devsim.log";
    const std::string out_path = workdir + "/stdout.txt";
    const std::string err_path = workdir + "/stderr.txt";

    std::vector<std::string> args = {devsim};
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
    run.out = read_text(out_path);
    run.err = read_text(err_path);
    run.wire = parse_wire_log(read_text(log_path));
    return run;
}
