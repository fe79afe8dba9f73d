// Reading and checking config.txt.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config.h"

using namespace std::string_literals;

namespace {

ConfigRead parse(const std::string& text) {
    // An exact-size copy, so that the sanitizers catch a read past the end.
    std::vector<unsigned char> bytes(text.begin(), text.end());
    return parse_config(bytes.data(), bytes.size());
}

struct ReadCase {
    std::string text;
    std::int32_t pager;
    std::int32_t table;
    std::int32_t pager_to_table;
    int values_read;
};

void expect_reads(const std::vector<ReadCase>& cases) {
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        const ConfigRead got = parse(c.text);
        EXPECT_TRUE(got.opened);
        EXPECT_EQ(got.values.pager, c.pager);
        EXPECT_EQ(got.values.table, c.table);
        EXPECT_EQ(got.values.pager_to_table, c.pager_to_table);
        EXPECT_EQ(got.values_read, c.values_read);
    }
}

TEST(ParseConfig, Notations) {
    expect_reads({
        {"0x1F 010 7", 31, 8, 7, 3},
        {"0777 0X1a +7", 511, 26, 7, 3},
        {"-5 1 1", -5, 1, 1, 3},
        {"0 -0 0x0", 0, 0, 0, 3},
        // 8 cannot continue an octal number: it begins the next value.
        {"08 5 6", 0, 8, 5, 3},
        {"09", 0, 9, 0, 2},
        {"12abc 3 4", 12, 0, 0, 1},
    });
}

TEST(ParseConfig, LayoutAndTextRules) {
    expect_reads({
        {"1\n2\n3\n", 1, 2, 3, 3},
        {"\r\n 1\r\n2\r\n3\r\n", 1, 2, 3, 3},
        {"1\r2\r3", 1, 2, 3, 3},
        {" \t\v\f\r\n1 2 3", 1, 2, 3, 3},
        {"1 2 3 4", 1, 2, 3, 3},
        {"1 2 3junk", 1, 2, 3, 3},
        // 1A ends the text, even inside a number.
        {"1 2\x1A 3", 1, 2, 0, 2},
        {"1 2 3\x1A"
         "9",
         1, 2, 3, 3},
        {"12\x1A"
         "34 5 6",
         12, 0, 0, 1},
        {"1 2\r\x1A"
         "3",
         1, 2, 0, 2},
    });
}

TEST(ParseConfig, ClampingAndLength) {
    expect_reads({
        {"2147483647 2147483648 99999999999", INT32_MAX, INT32_MAX, INT32_MAX, 3},
        {"-2147483648 -2147483649 -0x80000001", INT32_MIN, INT32_MIN, INT32_MIN, 3},
        {"0xFFFFFFFF 0 0", INT32_MAX, 0, 0, 3},
        {"0xFFFFFFFFFFFFF 037777777777 1", INT32_MAX, INT32_MAX, 1, 3},
        // 16 digits: the first 15 make one value, the 16th the next.
        {"1234567890123456 7 8", INT32_MAX, 6, 7, 3},
        {"000000000000017 1 2", 15, 1, 2, 3},
        {"0000000000000017 1 2", 1, 7, 1, 3},
        {"+0000000000000012 3", 0, 12, 3, 3},
        {"-999999999999999", INT32_MIN, 9, 0, 2},
        {"0x00000000000123 4", 0x12, 3, 4, 3},
        // The cut leaves a lone hex digit, which is no number in decimal.
        {"-0x000000000001F 1 2", -1, 0, 0, 1},
    });
}

TEST(ParseConfig, ReadingStopsAtAWordOrTheEnd) {
    expect_reads({
        {"", 0, 0, 0, 0},
        {" \r\n\t ", 0, 0, 0, 0},
        {"1 2", 1, 2, 0, 2},
        {"abc 1 2", 0, 0, 0, 0},
        {"\xEF\xBB\xBF"
         "1 2 3",
         0, 0, 0, 0},
        {"1\0 2 3"s, 1, 0, 0, 1},
        {"1 2 \x80", 1, 2, 0, 2},
        {"- 5 1 1", 0, 0, 0, 0},
        {"-", 0, 0, 0, 0},
        {"5 +", 5, 0, 0, 1},
        {"0xZ 1 2", 0, 0, 0, 0},
        {"1 0X", 1, 0, 0, 1},
        {"1 2 --3", 1, 2, 0, 2},
        {"5 x 7", 5, 0, 0, 1},
    });
}

ConfigRead values(std::int32_t pager, std::int32_t table, std::int32_t pager_to_table) {
    return ConfigRead{{pager, table, pager_to_table}, 3, true};
}

TEST(ConfigErrorMessage, LimitsInOrder) {
    struct Case {
        ConfigRead config;
        std::string message;
    };
    const std::vector<Case> cases = {
        {values(250, 99, 250), ""},
        {values(0, 0, 0), ""},
        {values(251, 0, 0), "\n Error: pager = 251 must be less 250"},
        {values(0, 100, 0), "\n Error: table = 100 must be less 99"},
        {values(0, 0, 251), "\n Error: pager_to_table = 251 must be less 250"},
        {values(INT32_MAX, 0, 0), "\n Error: pager = 2147483647 must be less 250"},
        {values(-5, 1, 1), "\n Error: pager = -5 must be 0 or more"},
        {values(1, -1, 1), "\n Error: table = -1 must be 0 or more"},
        {values(1, 1, INT32_MIN), "\n Error: pager_to_table = -2147483648 must be 0 or more"},
        // The first failing setting in file order is the one reported.
        {values(251, 100, 251), "\n Error: pager = 251 must be less 250"},
        {values(1, 100, -1), "\n Error: table = 100 must be less 99"},
        {values(0, -1, 999), "\n Error: table = -1 must be 0 or more"},
        // Settings not read come before any limit.
        {ConfigRead{{0, 0, 0}, 0, true}, "\n Error: cannot read pager from config.txt"},
        {ConfigRead{{300, 0, 0}, 1, true}, "\n Error: cannot read table from config.txt"},
        {ConfigRead{{1, 2, 0}, 2, true}, "\n Error: cannot read pager_to_table from config.txt"},
        {ConfigRead{{0, 0, 0}, 0, false}, "\n Error: cannot read pager from config.txt"},
    };
    for (const Case& c : cases) {
        const ConfigValues& v = c.config.values;
        SCOPED_TRACE(testing::Message() << v.pager << " " << v.table << " " << v.pager_to_table
                                        << " read " << c.config.values_read);
        EXPECT_EQ(config_error_message(c.config), c.message);
    }
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
