// devsim's command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulator/devsim_options.h"

namespace {

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::string word;
    for (char c : line) {
        if (c == ' ') {
            if (!word.empty()) {
                out.push_back(word);
            }
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        out.push_back(word);
    }
    return out;
}

TEST(DevsimOptions, ReadsEveryOption) {
    DevsimOptions o;
    std::string error;
    ASSERT_TRUE(parse_devsim_args(
        words("--tables 5 --entries=7 --pager 250 --echo-syncs 1,5,7-9 --echo-every 2 "
              "--sync-reply 0x55 --silent-after-sync --reply-delay 40 --stop-after-checks 3 "
              "--uncleared 1:2 --uncleared 3:0 --store-wrong pager_to_table --silent-ports 2 "
              "--log - -- prog --tables 9"),
        &o, &error))
        << error;
    EXPECT_EQ(o.knobs.table, 5);
    EXPECT_EQ(o.knobs.pager_to_table, 7);
    EXPECT_EQ(o.knobs.pager, 250);
    EXPECT_EQ(o.knobs.echo_syncs, (std::vector<int>{1, 5, 7, 8, 9}));
    EXPECT_EQ(o.knobs.echo_every, 2);
    EXPECT_EQ(o.knobs.sync_reply, 0x55);
    EXPECT_TRUE(o.knobs.silent_after_sync);
    EXPECT_EQ(o.knobs.reply_delay_ms, 40);
    EXPECT_EQ(o.knobs.stop_after_checks, 3);
    ASSERT_EQ(o.knobs.uncleared.size(), 2u);
    EXPECT_EQ(o.knobs.uncleared[1].table, 3);
    EXPECT_EQ(o.knobs.uncleared[1].entry, 0);
    EXPECT_EQ(o.silent_ports, 2);
    EXPECT_TRUE(o.log);
    EXPECT_EQ(o.log_path, "-");
    EXPECT_EQ(o.program, words("prog --tables 9"));
}

TEST(DevsimOptions, ModesAndDefaults) {
    DevsimOptions o;
    std::string error;
    ASSERT_TRUE(parse_devsim_args(words("--serve --link /tmp/com33 --sync-reply aB"), &o, &error));
    EXPECT_TRUE(o.serve);
    EXPECT_EQ(o.link, "/tmp/com33");
    EXPECT_EQ(o.knobs.sync_reply, 0xAB);
    EXPECT_FALSE(o.log);

    ASSERT_TRUE(parse_devsim_args(words("--absent prog"), &o, &error));
    EXPECT_TRUE(o.absent);
    EXPECT_EQ(o.program, words("prog"));
    EXPECT_EQ(o.knobs.table, 2);
    EXPECT_EQ(o.knobs.pager_to_table, 3);
    EXPECT_EQ(o.knobs.stop_after_checks, -1);

    ASSERT_TRUE(parse_devsim_args(words("--tables 1 --help --bogus"), &o, &error));
    EXPECT_TRUE(o.help);
}

TEST(DevsimOptions, RejectsBadCommandLines) {
    const struct {
        const char* line;
        const char* mentions;
    } cases[] = {
        {"--tables 256 -- p", "--tables"},
        {"--tables -1 -- p", "--tables"},
        {"--entries 3x -- p", "--entries"},
        {"--pager -- p", "--pager"},
        {"--echo-syncs 0 -- p", "--echo-syncs"},
        {"--echo-syncs 5-3 -- p", "--echo-syncs"},
        {"--echo-syncs 1,,2 -- p", "--echo-syncs"},
        {"--echo-every 0 -- p", "--echo-every"},
        {"--sync-reply 1FF -- p", "--sync-reply"},
        {"--sync-reply zz -- p", "--sync-reply"},
        {"--reply-delay 60001 -- p", "--reply-delay"},
        {"--uncleared 1 -- p", "--uncleared"},
        {"--uncleared 1:256 -- p", "--uncleared"},
        {"--store-wrong tables -- p", "--store-wrong"},
        {"--silent-ports 32 -- p", "--silent-ports"},
        {"--silent-after-sync=1 -- p", "--silent-after-sync"},
        {"--bogus -- p", "--bogus"},
        {"--tables", "--tables"},
        {"", "PROGRAM"},
        {"--tables 3", "PROGRAM"},
        {"--serve -- p", "--serve"},
        {"--serve --absent", "--absent"},
        {"--link x -- p", "--link"},
    };
    for (const auto& c : cases) {
        DevsimOptions o;
        std::string error;
        EXPECT_FALSE(parse_devsim_args(words(c.line), &o, &error)) << c.line;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.line << ": " << error;
    }
}

}  // namespace
