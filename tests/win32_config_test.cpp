#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "config.h"

namespace {

// Runs each test in a fresh, empty working directory under %TEMP%.
class Win32ConfigFile : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(GetCurrentDirectoryA(sizeof old_dir_, old_dir_), 0u);
        char temp[MAX_PATH];
        ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
        dir_ = std::string(temp) + "config_test_" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
        ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
    }
    void TearDown() override {
        DeleteFileA("config.txt");
        RemoveDirectoryA("config.txt");
        EXPECT_TRUE(SetCurrentDirectoryA(old_dir_));
        RemoveDirectoryA(dir_.c_str());
    }
    static void write_file(const std::string& text) {
        std::FILE* file = std::fopen("config.txt", "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }

  private:
    char old_dir_[MAX_PATH];
    std::string dir_;
};

TEST_F(Win32ConfigFile, MissingFile) {
    EXPECT_FALSE(config_exists());
    const ConfigRead got = read_config();
    EXPECT_FALSE(got.opened);
    EXPECT_EQ(got.values_read, 0);
}

TEST_F(Win32ConfigFile, DirectoryExistsButIsNotRead) {
    ASSERT_TRUE(CreateDirectoryA("config.txt", nullptr));
    EXPECT_TRUE(config_exists());
    const ConfigRead got = read_config();
    EXPECT_FALSE(got.opened);
    EXPECT_EQ(got.values_read, 0);
}

// Windows line ends and a Ctrl-Z at the end, as old editors leave them.
TEST_F(Win32ConfigFile, ReadsAWindowsTextFile) {
    write_file("10\r\n2\r\n3\r\n\x1a");
    EXPECT_TRUE(config_exists());
    const ConfigRead got = read_config();
    EXPECT_TRUE(got.opened);
    EXPECT_EQ(got.values_read, 3);
    EXPECT_EQ(got.values.pager, 10);
    EXPECT_EQ(got.values.table, 2);
    EXPECT_EQ(got.values.pager_to_table, 3);
}

}  // namespace
