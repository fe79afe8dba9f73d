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

TEST_F(ConfigFile, DirectoryExistsButCannotBeRead) {
    ASSERT_TRUE(std::filesystem::create_directory("config.txt"));
    EXPECT_TRUE(config_exists());
    const ConfigRead got = read_config();
    EXPECT_FALSE(got.opened);
    EXPECT_EQ(got.values_read, 0);
    EXPECT_EQ(config_error_message(got), "\n Error: cannot read pager from config.txt");
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
