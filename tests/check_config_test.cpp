// check_config, and config.txt as a FIFO: POSIX only, since these tests run
// child processes and make FIFOs.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "config.h"
#include "config_file_fixture.h"

namespace {

ConfigRead values(std::int32_t pager, std::int32_t table, std::int32_t pager_to_table) {
    return ConfigRead{{pager, table, pager_to_table}, 3, true, ""};
}

// Runs check_config in a child with no controlling terminal, so that the key
// wait ends at once. Returns what it printed; *passed gets its result.
std::string run_check_config(const ConfigRead& config, bool* passed) {
    int out[2];
    if (pipe(out) != 0) {
        ADD_FAILURE() << "pipe failed";
        return "";
    }
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        const bool ok = check_config(config);
        std::fflush(stdout);
        _exit(ok ? 0 : 1);
    }
    close(out[1]);
    std::string printed;
    char buffer[256];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) != 0) {
        if (got > 0) {
            printed.append(buffer, static_cast<std::size_t>(got));
        } else if (errno != EINTR) {
            break;
        }
    }
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    *passed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return printed;
}

TEST(CheckConfig, FailurePrintsItsMessageThenTheKeyPrompt) {
    bool passed = true;
    EXPECT_EQ(run_check_config(values(0, 100, 0), &passed),
              "\n Error: table = 100 must be less 99\nPress any key ...");
    EXPECT_FALSE(passed);
}

TEST(CheckConfig, PassingValuesPrintNothing) {
    bool passed = false;
    EXPECT_EQ(run_check_config(values(250, 99, 250), &passed), "");
    EXPECT_TRUE(passed);
}

TEST_F(ConfigFile, FifoIsNotOpenedForEver) {
    // Opening a FIFO with no writer would block; it is not a file to read.
    ASSERT_EQ(mkfifo("config.txt", 0644), 0);
    EXPECT_TRUE(config_exists());
    const ConfigRead got = read_config();
    EXPECT_FALSE(got.opened);
    EXPECT_EQ(config_error_message(got), "\n Error: cannot read config.txt: it is a FIFO");
}

TEST_F(ConfigFile, RefusedFileIsReportedWithTheSystemsReason) {
    std::FILE* file = std::fopen("config.txt", "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("1 2 3", file);
    std::fclose(file);
    ASSERT_EQ(chmod("config.txt", 0), 0);
    // Root reads any file: the check runs as nobody then.
    std::fflush(stdout);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(2);
        }
        const std::string message = config_error_message(read_config());
        const ssize_t n = write(out[1], message.data(), message.size());
        _exit(n < 0 ? 3 : 0);
    }
    close(out[1]);
    char buffer[256];
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0),
              "\n Error: cannot read config.txt: Permission denied");
}

}  // namespace
