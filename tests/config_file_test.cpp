// read_config and config_exists on a real file system, on every platform.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "config.h"
#include "config_file_fixture.h"

namespace {

TEST_F(ConfigFile, Missing) {
    EXPECT_FALSE(config_exists());
    const ConfigRead got = read_config();
    EXPECT_FALSE(got.opened);
    EXPECT_EQ(got.values_read, 0);
}

TEST_F(ConfigFile, DirectoryExistsButIsNotRead) {
    ASSERT_TRUE(std::filesystem::create_directory("config.txt"));
    EXPECT_TRUE(config_exists());
    const ConfigRead got = read_config();
    EXPECT_FALSE(got.opened);
    EXPECT_EQ(got.values_read, 0);
    EXPECT_EQ(config_error_message(got), "\n Error: cannot read config.txt: it is a directory");
}

TEST_F(ConfigFile, ReadsTheFileAsText) {
    // Windows line ends and a Ctrl-Z at the end, as old editors leave them.
    write_file("0x1F\r\n010\r\n7\r\n\x1a");
    EXPECT_TRUE(config_exists());
    const ConfigRead got = read_config();
    EXPECT_TRUE(got.opened);
    EXPECT_EQ(got.values_read, 3);
    EXPECT_EQ(got.values.pager, 31);
    EXPECT_EQ(got.values.table, 8);
    EXPECT_EQ(got.values.pager_to_table, 7);
}

TEST_F(ConfigFile, FilesOfAnyLengthAreReadToTheirThirdValue) {
    write_file("");
    ConfigRead got = read_config();
    EXPECT_TRUE(got.opened);
    EXPECT_EQ(got.values_read, 0);

    // A number across the reader's 64 KiB steps.
    write_file(std::string(65534, ' ') + "250 99 250");
    got = read_config();
    EXPECT_EQ(got.values_read, 3);
    EXPECT_EQ(got.values.pager, 250);

    // 100 MB of white space, with line ends split across the steps.
    {
        std::FILE* file = std::fopen("config.txt", "wb");
        ASSERT_NE(file, nullptr);
        std::fputc(' ', file);
        std::string crlf(1 << 20, '\n');
        for (std::size_t i = 0; i < crlf.size(); i += 2) {
            crlf[i] = '\r';
        }
        for (int mb = 0; mb < 100; ++mb) {
            std::fwrite(crlf.data(), 1, crlf.size(), file);
        }
        std::fputs("1 2 250 ", file);
        std::fclose(file);
    }
    got = read_config();
    EXPECT_EQ(got.values_read, 3);
    EXPECT_EQ(got.values.pager, 1);
    EXPECT_EQ(got.values.table, 2);
    EXPECT_EQ(got.values.pager_to_table, 250);
}

}  // namespace
