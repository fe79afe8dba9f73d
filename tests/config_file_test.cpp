// check_config and read_config on a real file system: POSIX only, since
// they run in child processes and make FIFOs.
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

namespace {

ConfigRead values(std::int32_t pager, std::int32_t table, std::int32_t pager_to_table) {
    return ConfigRead{{pager, table, pager_to_table}, 3, true};
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

// Runs each test in a fresh, empty working directory.
class ConfigFile : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
        char pattern[] = "/tmp/config_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        remove("config.txt");  // a file or an empty directory
        EXPECT_EQ(chdir(old_cwd_), 0);
        rmdir(dir_.c_str());
    }
    static void write_file(const std::string& text) {
        std::FILE* file = std::fopen("config.txt", "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }

  private:
    char old_cwd_[4096];
    std::string dir_;
};

TEST_F(ConfigFile, Missing) {
    EXPECT_FALSE(config_exists());
    const ConfigRead got = read_config();
    EXPECT_FALSE(got.opened);
    EXPECT_EQ(got.values_read, 0);
}

TEST_F(ConfigFile, DirectoryExistsButCannotBeRead) {
    ASSERT_EQ(mkdir("config.txt", 0755), 0);
    EXPECT_TRUE(config_exists());
    const ConfigRead got = read_config();
    EXPECT_FALSE(got.opened);
    EXPECT_EQ(got.values_read, 0);
    EXPECT_EQ(config_error_message(got), "\n Error: cannot read pager from config.txt");
}

TEST_F(ConfigFile, FifoIsNotOpenedForEver) {
    // Opening a FIFO with no writer would block; it is not a file to read.
    ASSERT_EQ(mkfifo("config.txt", 0644), 0);
    EXPECT_TRUE(config_exists());
    const ConfigRead got = read_config();
    EXPECT_FALSE(got.opened);
    EXPECT_EQ(got.values_read, 0);
}

TEST_F(ConfigFile, ReadsTheFileAsText) {
    write_file("0x1F\r\n010\r\n7\r\n");
    EXPECT_TRUE(config_exists());
    const ConfigRead got = read_config();
    EXPECT_TRUE(got.opened);
    EXPECT_EQ(got.values_read, 3);
    EXPECT_EQ(got.values.pager, 31);
    EXPECT_EQ(got.values.table, 8);
    EXPECT_EQ(got.values.pager_to_table, 7);
}

TEST_F(ConfigFile, EmptyAndHugeFiles) {
    write_file("");
    ConfigRead got = read_config();
    EXPECT_TRUE(got.opened);
    EXPECT_EQ(got.values_read, 0);

    write_file("1 2 3 " + std::string(4 * kConfigReadLimit, '9'));
    got = read_config();
    EXPECT_EQ(got.values_read, 3);
    EXPECT_EQ(got.values.pager_to_table, 3);
}

}  // namespace
