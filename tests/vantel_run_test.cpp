// vantel's whole run on virtual time: every byte on the wire with the pauses
// around it, the replies scripted, and the output, checked exactly.
#include "vantel/run.h"

#include <gtest/gtest.h>

#include "virtual/virtual_run.h"

namespace {

const std::string kWritten =
    "\n\nWrite:\nPager writen\nTable writen\nPager_to_table writen\n\nVerify:";

std::string verify_lines(bool pager, bool table, bool pager_to_table) {
    auto line = [](const char* name, bool ok) {
        return std::string("\n") + name + " verify " + (ok ? "ok." : "error.");
    };
    return line("Pager", pager) + line("Table", table) + line("Pager_to_table", pager_to_table);
}

std::string written(std::uint8_t pager, std::uint8_t table, std::uint8_t pager_to_table) {
    return set(0xF5, pager) + set(0xF7, table) + set(0xF9, pager_to_table);
}

using VantelRun = VirtualRun;

TEST_F(VantelRun, WritesEachSettingThenReadsEachBackWithEveryPause) {
    write_config("250 99 7");
    VirtualSetup setup;
    setup.knobs.pager = 0;
    EXPECT_EQ(run(run_vantel, setup), 0);
    EXPECT_EQ(virtual_trace(), synced() + written(0xFA, 0x63, 0x07) + query(0xF6, 0xFA) +
                                   query(0xF8, 0x63) + query(0xFA, 0x07) + kClosedAndPrompted);
    EXPECT_EQ(virtual_output(), found_on(33) + kWritten + verify_lines(true, true, true) + kPrompt);
    EXPECT_EQ(virtual_device().settings[2], 7);
}

TEST_F(VantelRun, EachSettingIsVerifiedOnItsOwnAndTheRunGoesOn) {
    write_config("10 2 3");
    const struct {
        int store_wrong;
        std::string verify;
    } cases[] = {
        {kSettingPager, verify_lines(false, true, true)},
        {kSettingTable, verify_lines(true, false, true)},
        {kSettingPagerToTable, verify_lines(true, true, false)},
    };
    for (const auto& c : cases) {
        VirtualSetup setup;
        setup.knobs.store_wrong = c.store_wrong;
        EXPECT_EQ(run(run_vantel, setup), 0);
        EXPECT_EQ(virtual_output(), found_on(33) + kWritten + c.verify + kPrompt) << c.store_wrong;
    }
}

TEST_F(VantelRun, AMissingReplyIsAnErrorEvenWhenTheValueEqualsTheQuery) {
    // 246 and 250 are the query bytes F6 and FA themselves.
    write_config("246 99 250");
    VirtualSetup setup;
    setup.knobs.silent_after_sync = true;
    EXPECT_EQ(run(run_vantel, setup), 0);
    EXPECT_EQ(virtual_output(),
              found_on(33) + kWritten + verify_lines(false, false, false) + kPrompt);
    EXPECT_EQ(virtual_trace(), synced() + written(0xF6, 0x63, 0xFA) + ">F6 p20 t30 >F8 p20 t30 " +
                                   ">FA p20 t30 " + kClosedAndPrompted);
}

TEST_F(VantelRun, BadSettingsStopBeforeAnythingIsSentWithThePortStillOpen) {
    const struct {
        const char* config;
        const char* message;
    } cases[] = {
        {"251 0 0", "\n Error: pager = 251 must be less 250"},
        {"0 100 0", "\n Error: table = 100 must be less 99"},
        {"0 0 251", "\n Error: pager_to_table = 251 must be less 250"},
        {"0x1F 0144 7", "\n Error: table = 100 must be less 99"},
        {"1 -1 1", "\n Error: table = -1 must be 0 or more"},
        {"1 2", "\n Error: cannot read pager_to_table from config.txt"},
    };
    for (const auto& c : cases) {
        write_config(c.config);
        EXPECT_EQ(run(run_vantel), 1) << c.config;
        EXPECT_EQ(virtual_output(), found_on(33) + "\n\nWrite:" + c.message + kPrompt) << c.config;
        EXPECT_EQ(virtual_trace(), synced() + "key close ") << c.config;
    }
}

TEST_F(VantelRun, MissingConfigStopsAtOnceAndNoDeviceNeverLooksForIt) {
    EXPECT_EQ(run(run_vantel), 1);
    EXPECT_EQ(virtual_output(), found_on(33) + "\nError: file <config.txt> not found.");
    EXPECT_EQ(virtual_trace(), synced() + "close ");

    VirtualSetup nothing;
    nothing.ports.clear();
    EXPECT_EQ(run(run_vantel, nothing), 1);
    EXPECT_EQ(virtual_output(), kNotResponding);
    EXPECT_EQ(virtual_trace(), "");
}

}  // namespace
