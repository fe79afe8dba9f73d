// The programs as processes, end to end against the simulated device:
// interrupted by a signal at a chosen moment, started with standard output
// closed, writing into a pipe whose reader has gone, and asked for help.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "simulator/wire_log.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// True when `bytes` (what the device got after discovery) is a run of whole
// commands: none cut off after its command byte or part of its arguments.
bool whole_commands(const Bytes& bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t b = bytes[i];
        const std::size_t length = b == 0xF0                             ? 4
                                   : b == 0xF1                           ? 3
                                   : b == 0xF5 || b == 0xF7 || b == 0xF9 ? 2
                                   : b == 0xF6 || b == 0xF8 || b == 0xFA ? 1
                                                                         : 0;
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return i == bytes.size();
}

// The parent pid of `pid`, from /proc, or -1.
pid_t parent_of(pid_t pid) {
    const std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    int ppid = -1;
    if (close == std::string::npos ||
        std::sscanf(stat.c_str() + close + 1, " %*c %d", &ppid) != 1) {
        return -1;
    }
    return ppid;
}

// The pid of a process named `name` that descends from `ancestor`, or -1.
pid_t find_descendant(pid_t ancestor, const std::string& name) {
    DIR* proc = opendir("/proc");
    pid_t found = -1;
    while (proc != nullptr && found < 0) {
        const dirent* entry = readdir(proc);
        if (entry == nullptr) {
            break;
        }
        const pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0 || read_text("/proc/" + std::to_string(pid) + "/comm") != name + "\n") {
            continue;
        }
        for (pid_t up = parent_of(pid); up > 1; up = parent_of(up)) {
            if (up == ancestor) {
                found = pid;
                break;
            }
        }
    }
    if (proc != nullptr) {
        closedir(proc);
    }
    return found;
}

// Bytes the device received, from devsim's log.
Bytes received(const std::string& log) {
    Bytes bytes;
    for (const WireEvent& event : parse_wire_log(log)) {
        if (!event.sent && event.port.empty()) {
            bytes.push_back(event.byte);
        }
    }
    return bytes;
}

class ProcessE2e : public E2eTest<> {
  protected:
    // Runs `program` (a path) under devsim with `devsim_args` through a shell
    // that gives the port odd settings and records them before and after the
    // program, in the files "before" and "after", and its status in "status".
    // Once the device has received `bytes` bytes, sends `sig` to the program.
    // Returns the bytes the device received.
    Bytes interrupt_at(const char* program, std::vector<std::string> devsim_args, std::size_t bytes,
                       int sig) {
        const std::string log = workdir_ + "/devsim.log";
        const std::string script =
            "stty -F /dev/ttyUSB0 19200 -echo -icanon >/dev/null &&"
            " stty -g -F /dev/ttyUSB0 >before && \"$0\" >out; echo $? >status;"
            " stty -g -F /dev/ttyUSB0 >after";
        devsim_args.insert(devsim_args.end(), {"--log", log, "--", "sh", "-c", script, program});
        std::vector<char*> argv{const_cast<char*>(DEVSIM_PATH)};
        for (std::string& arg : devsim_args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        std::fflush(stdout);
        const pid_t devsim = fork();
        if (devsim == 0) {
            setsid();
            if (chdir(workdir_.c_str()) != 0) {
                _exit(126);
            }
            // The shell's report of the death goes with the run's other errors.
            const int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0) {
                dup2(err, STDERR_FILENO);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
        EXPECT_GT(devsim, 0);
        const std::string name = std::strrchr(program, '/') + 1;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        bool sent = false;
        while (!sent && std::chrono::steady_clock::now() < deadline) {
            if (received(read_text(log)).size() >= bytes) {
                const pid_t target = find_descendant(devsim, name);
                out_at_signal_ = read_text(workdir_ + "/out");
                sent = target > 0 && kill(target, sig) == 0;
            }
            std::this_thread::sleep_for(2ms);
        }
        EXPECT_TRUE(sent) << "the device never got " << bytes << " bytes";
        int status = 0;
        while (waitpid(devsim, &status, 0) < 0 && errno == EINTR) {
        }
        return received(read_text(log));
    }
    // The program's redirected output as it was when the signal went.
    std::string out_at_signal_;
};

TEST_F(ProcessE2e, SignalStopsTheRunAfterTheCommandInFlight) {
    std::ofstream(workdir_ + "/config.txt") << "10 2 3\n";
    const struct {
        const char* program;
        std::vector<std::string> device;
        std::size_t at;  // the device's byte count when the signal is sent
        int sig;
        std::size_t full_run;  // bytes the device gets from a whole run
    } cases[] = {
        // Between F5 and its value.
        {VANTEL_PATH, {}, 21, SIGHUP, 29},
        // Inside the clear pass, then inside the check pass.
        {BRISKO_PATH, {"--tables", "30", "--entries", "3"}, 45, SIGINT, 23 + 90 * 7},
        {BRISKO_PATH, {"--tables", "30", "--entries", "3"}, 23 + 90 * 4 + 5, SIGTERM, 23 + 90 * 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + strsignal(c.sig));
        const Bytes wire = interrupt_at(c.program, c.device, c.at, c.sig);
        const Bytes commands(wire.begin() + 20, wire.end());
        EXPECT_TRUE(whole_commands(commands)) << wire.size() << " bytes";
        EXPECT_LT(wire.size(), c.full_run);
        EXPECT_EQ(read_text(workdir_ + "/status"), std::to_string(128 + c.sig) + "\n");
        EXPECT_EQ(read_text(workdir_ + "/after"), read_text(workdir_ + "/before"));
        EXPECT_EQ(read_text(workdir_ + "/out").find("Press any key"), std::string::npos);
        // Output into a file is there as it is printed, dots and all.
        if (c.program == std::string(BRISKO_PATH)) {
            EXPECT_NE(out_at_signal_.find("found on COM33 ok.\n\nErase."), std::string::npos)
                << out_at_signal_;
        }
        // Echoes lost on a loaded machine take dots away, never this.
        EXPECT_NE(read_text(workdir_ + "/out").find("found on COM33 ok."), std::string::npos)
            << "held output not written out: " << read_text(workdir_ + "/out")
            << read_text(workdir_ + "/stderr.txt");
    }
}

TEST_F(ProcessE2e, ClosedStandardOutputSendsNothingButCommandsToTheDevice) {
    std::ofstream(workdir_ + "/config.txt") << "10 2 3\n";
    const E2eRun r =
        run_with_device("sh", {}, workdir_, 60000, {"-c", "exec \"$0\" >&-", VANTEL_PATH});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(after_sync(r), (Bytes{0xF5, 10, 0xF7, 2, 0xF9, 3, 0xF6, 0xF8, 0xFA}));
}

TEST_F(ProcessE2e, ReaderThatLeavesEarlyNeitherStopsNorChangesTheRun) {
    // The reader has gone long before the run writes its held output.
    const E2eRun r = run_with_device("bash", {"--tables", "1", "--entries", "3"}, workdir_, 60000,
                                     {"-c", "\"$0\" | true; exit ${PIPESTATUS[0]}", BRISKO_PATH});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(after_sync(r).size(), 3u + 3 * 4 + 3 * 3);
}

TEST_F(ProcessE2e, HelpAndVersionTouchNoPort) {
    for (const char* program : {VANTEL_PATH, BRISKO_PATH}) {
        const std::string name = std::strrchr(program, '/') + 1;
        for (const char* arg : {"-h", "--help", "-?", "/?", "--version"}) {
            SCOPED_TRACE(name + " " + arg);
            const E2eRun r = run_with_device(program, {}, workdir_, 60000, {arg});
            EXPECT_EQ(r.exit_status, 0);
            EXPECT_TRUE(r.rx.empty());
            const std::string start = std::strcmp(arg, "--version") == 0
                                          ? name + " "
                                          : "Usage: " + name + " [--port PORT]";
            EXPECT_EQ(r.out.compare(0, start.size(), start), 0) << r.out;
        }
    }
    // Anything else is refused, and so is a log that cannot be written:
    // nothing goes to the device.
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } refused[] = {
        {{"-x", "-h"}, 2, "brisko: '-x' is not an option. Usage: brisko [--port PORT]"},
        {{"--port", "COM0"}, 2, "brisko: --port COM0 names no port"},
        {{"--log", "."}, 1, "brisko: cannot write the log to .: "},
    };
    for (const auto& c : refused) {
        const E2eRun r = run_with_device(BRISKO_PATH, {}, workdir_, 60000, c.args);
        EXPECT_EQ(r.exit_status, c.status) << c.args[0];
        EXPECT_TRUE(r.rx.empty()) << c.args[0];
        EXPECT_EQ(r.out, "") << c.args[0];
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
}

}  // namespace
