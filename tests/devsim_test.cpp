// The devsim program: its exit statuses, the private /dev it gives a program,
// and serving the device until stopped.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "line_io.h"
#include "simulator/devsim_options.h"

namespace {

class Devsim : public ::testing::Test {
  protected:
    void SetUp() override {
        workdir_ = make_workdir();
        ASSERT_FALSE(workdir_.empty());
    }
    void TearDown() override { remove_workdir(workdir_); }
    std::string workdir_;
};

TEST_F(Devsim, ExitStatuses) {
    const struct {
        std::vector<std::string> devsim_args;
        const char* program;
        std::vector<std::string> program_args;
        int status;
        bool needs_namespace;
    } cases[] = {
        {{"--tables", "300"}, "true", {}, kDevsimUsage, false},
        {{"--no-such-option"}, "true", {}, kDevsimUsage, false},
        {{}, "true", {}, 0, true},
        {{}, "false", {}, 1, true},
        {{}, "sh", {"-c", "exit 42"}, 42, true},
        {{}, "sh", {"-c", "kill -9 $$"}, 128 + 9, true},
        {{}, "/no/such/program", {}, kDevsimCannotRun, true},
    };
    std::string why;
    const bool namespaces = namespaces_available(&why);
    for (const auto& c : cases) {
        if (c.needs_namespace && !namespaces) {
            continue;
        }
        const E2eRun run =
            run_with_device(c.program, c.devsim_args, workdir_, 30000, c.program_args);
        EXPECT_EQ(run.exit_status, c.status) << c.program << "\n" << run.err;
    }
}

TEST_F(Devsim, PrivateDevHoldsOnlyTheSimulatedPorts) {
    SKIP_WITHOUT_NAMESPACES();
    const E2eRun run =
        run_with_device("sh", {"--silent-ports", "2"}, workdir_, 30000,
                        {"-c", "cd /dev && echo tty* && test -c null && test -c ttyUSB2"});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, "tty ttyUSB0 ttyUSB1 ttyUSB2\n");

    const E2eRun absent =
        run_with_device("sh", {"--absent"}, workdir_, 30000, {"-c", "cd /dev && echo tty*"});
    EXPECT_EQ(absent.out, "tty\n") << absent.err;
}

TEST_F(Devsim, ServesUntilTerminated) {
    const std::string link = workdir_ + "/com33";
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl(DEVSIM_PATH, DEVSIM_PATH, "--serve", "--link", link.c_str(), "--tables", "9",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // The first line on standard output is the pty's path.
    std::string path;
    for (int byte = read_byte(out[0], 5000); byte >= 0 && byte != '\n';
         byte = read_byte(out[0], 5000)) {
        path += static_cast<char>(byte);
    }
    close(out[0]);
    EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;

    const int port = open_port(link);
    EXPECT_GE(port, 0);
    if (port >= 0) {
        send(port, 0xF8);
        EXPECT_EQ(read_byte(port, 2000), 9);
        close(port);
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link outlived devsim";
}

}  // namespace
