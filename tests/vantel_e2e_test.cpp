// vantel end to end: config.txt in a working directory, the program run by
// devsim against the simulated device, the output and the wire checked
// byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kFound = found_on(33);
const std::string kWritten =
    "\n\nWrite:\nPager writen\nTable writen\nPager_to_table writen\n\nVerify:";
const std::string kPrompt = "\nPress any key ...";

std::string verify_lines(bool pager, bool table, bool pager_to_table) {
    auto line = [](const char* name, bool ok) {
        return std::string("\n") + name + " verify " + (ok ? "ok." : "error.");
    };
    return line("Pager", pager) + line("Table", table) + line("Pager_to_table", pager_to_table);
}

Bytes written(std::uint8_t pager, std::uint8_t table, std::uint8_t pager_to_table) {
    return {0xF5, pager, 0xF7, table, 0xF9, pager_to_table, 0xF6, 0xF8, 0xFA};
}

class VantelE2e : public E2eTest<> {
  protected:
    void write_config(const std::string& text) {
        std::ofstream(workdir_ + "/config.txt", std::ios::binary) << text;
    }
    E2eRun run(const std::vector<std::string>& devsim_args = {}) {
        return run_program(VANTEL_PATH, devsim_args);
    }
};

TEST_F(VantelE2e, CompleteRunWritesAndVerifiesTheThreeSettings) {
    write_config("10\n2\n3\n");
    const E2eRun r = run({"--pager", "0", "--tables", "0", "--entries", "0"});
    EXPECT_EQ(r.out, kFound + kWritten + verify_lines(true, true, true) + kPrompt);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(after_sync(r), written(10, 2, 3));
}

TEST_F(VantelE2e, ValueBytesEqualToCommandOrControlBytesPassUnchanged) {
    const struct {
        const char* config;
        Bytes wire;
    } cases[] = {
        {"250 99 250", written(0xFA, 0x63, 0xFA)},
        {"245 0 240", written(0xF5, 0x00, 0xF0)},
        {"13 17 10", written(0x0D, 0x11, 0x0A)},
        {"3 19 28", written(0x03, 0x13, 0x1C)},
    };
    for (const auto& c : cases) {
        write_config(c.config);
        const E2eRun r = run();
        EXPECT_EQ(r.out, kFound + kWritten + verify_lines(true, true, true) + kPrompt) << c.config;
        EXPECT_EQ(after_sync(r), c.wire) << c.config;
    }
}

TEST_F(VantelE2e, VerifyReportsEachSettingOnItsOwnAndTheRunGoesOn) {
    write_config("10 2 3");
    const struct {
        std::vector<std::string> knobs;
        std::string verify;
    } cases[] = {
        {{"--store-wrong", "table"}, verify_lines(true, false, true)},
        {{"--store-wrong", "pager"}, verify_lines(false, true, true)},
        {{"--store-wrong", "pager_to_table"}, verify_lines(true, true, false)},
        // A device that answers nothing after the sync: no reply is never "ok".
        {{"--silent-after-sync"}, verify_lines(false, false, false)},
        // Replies 35 ms late still arrive within the read's bound.
        {{"--reply-delay", "35"}, verify_lines(true, true, true)},
    };
    for (const auto& c : cases) {
        const E2eRun r = run(c.knobs);
        EXPECT_EQ(r.out, kFound + kWritten + c.verify + kPrompt) << c.knobs[0];
        EXPECT_EQ(r.exit_status, 0) << c.knobs[0];
        EXPECT_EQ(after_sync(r), written(10, 2, 3)) << c.knobs[0];
    }
}

TEST_F(VantelE2e, SilentDeviceFailsVerifyEvenForValuesEqualToTheQueries) {
    // 246 248 250 are the query bytes F6 F8 FA themselves: a missing reply
    // must not read back as the value.
    write_config("246 248 250");
    const E2eRun r = run({"--silent-after-sync"});
    EXPECT_EQ(r.out, kFound + "\n\nWrite:\n Error: table = 248 must be less 99" + kPrompt);
    write_config("246 99 250");
    const E2eRun s = run({"--silent-after-sync"});
    EXPECT_EQ(s.out, kFound + kWritten + verify_lines(false, false, false) + kPrompt);
}

TEST_F(VantelE2e, EveryByteOfTheRunIsPacedByAtLeastTwentyMilliseconds) {
    write_config("10 2 3");
    const E2eRun r = run();
    ASSERT_GE(r.rx.size(), 29u);
    const std::vector<WireByte> run_bytes(r.rx.end() - 9, r.rx.end());
    // The device thread notes each byte when it wakes up, which load may
    // delay: one late note lengthens one gap and shortens the next. Each gap
    // is held to 15 ms and the whole run to eight full pauses less 2 ms.
    for (std::size_t i = 1; i < run_bytes.size(); ++i) {
        EXPECT_GE(run_bytes[i].ms - run_bytes[i - 1].ms, 15.0) << "byte " << i;
    }
    EXPECT_GE(run_bytes.back().ms - run_bytes.front().ms, 8 * 20.0 - 2.0);
}

TEST_F(VantelE2e, BadSettingsStopTheRunBeforeAnythingIsSent) {
    const struct {
        const char* config;
        const char* message;
    } cases[] = {
        {"251 0 0", "\n Error: pager = 251 must be less 250"},
        {"0 100 0", "\n Error: table = 100 must be less 99"},
        {"0 0 251", "\n Error: pager_to_table = 251 must be less 250"},
        {"0x1F 0144 7", "\n Error: table = 100 must be less 99"},
        {"0xFFFFFFFF 1 1", "\n Error: pager = 2147483647 must be less 250"},
        {"-156 1 1", "\n Error: pager = -156 must be 0 or more"},
        {"1 -1 1", "\n Error: table = -1 must be 0 or more"},
        {"1 1 -5", "\n Error: pager_to_table = -5 must be 0 or more"},
        {"abc 1 1", "\n Error: cannot read pager from config.txt"},
        {"1 - 5 1", "\n Error: cannot read table from config.txt"},
        {"1 2", "\n Error: cannot read pager_to_table from config.txt"},
        {"1 2\x1A 3", "\n Error: cannot read pager_to_table from config.txt"},
        {"", "\n Error: cannot read pager from config.txt"},
    };
    for (const auto& c : cases) {
        write_config(c.config);
        const E2eRun r = run();
        EXPECT_EQ(r.out, kFound + "\n\nWrite:" + c.message + kPrompt) << c.config;
        EXPECT_EQ(r.exit_status, 1) << c.config;
        EXPECT_EQ(after_sync(r), Bytes{}) << c.config;
    }
}

TEST_F(VantelE2e, ConfigThatIsADirectoryCannotBeRead) {
    std::filesystem::create_directory(workdir_ + "/config.txt");
    const E2eRun r = run();
    EXPECT_EQ(r.out, kFound + "\n\nWrite:\n Error: cannot read pager from config.txt" + kPrompt);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(after_sync(r), Bytes{});
}

TEST_F(VantelE2e, MissingConfigStopsWithoutAPrompt) {
    const E2eRun r = run();
    EXPECT_EQ(r.out, kFound + "\nError: file <config.txt> not found.");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(after_sync(r), Bytes{});
    // With no device, the file is never looked for.
    const E2eRun absent = run({"--absent"});
    EXPECT_EQ(absent.out, "\nWait sync ...error - not responding\n");
    EXPECT_EQ(absent.exit_status, 1);
}

}  // namespace
