// Reading config.txt's bytes and choosing the error message: pure code, built
// for every platform.
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
    return ConfigRead{{pager, table, pager_to_table}, 3, true, ""};
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
        {ConfigRead{{0, 0, 0}, 0, true, ""}, "\n Error: cannot read pager from config.txt"},
        {ConfigRead{{300, 0, 0}, 1, true, ""}, "\n Error: cannot read table from config.txt"},
        {ConfigRead{{1, 2, 0}, 2, true, ""},
         "\n Error: cannot read pager_to_table from config.txt"},
        {ConfigRead{{0, 0, 0}, 0, false, ""}, "\n Error: cannot read pager from config.txt"},
    };
    for (const Case& c : cases) {
        const ConfigValues& v = c.config.values;
        SCOPED_TRACE(testing::Message() << v.pager << " " << v.table << " " << v.pager_to_table
                                        << " read " << c.config.values_read);
        EXPECT_EQ(config_error_message(c.config), c.message);
    }
}

}  // namespace
