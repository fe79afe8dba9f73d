// vantel's whole run on virtual time: every byte on the wire with the pauses
// around it, the replies scripted, and the output, checked exactly.
#include "vantel/run.h"

#include <gtest/gtest.h>

#include "virtual/virtual_run.h"

namespace {

std::string written(std::uint8_t pager, std::uint8_t table, std::uint8_t pager_to_table) {
    return set(0xF5, pager) + set(0xF7, table) + set(0xF9, pager_to_table);
}

using VantelRun = VirtualRun;

// 246 and 250 are the query bytes F6 and FA themselves: a device that holds
// them answers its questions with their own bytes, and that is no echo.
TEST_F(VantelRun, WritesEachSettingThenReadsEachBackWithEveryPause) {
    write_config("246 99 250");
    VirtualSetup setup;
    setup.knobs.pager = 0;
    EXPECT_EQ(run(run_vantel, setup), 0);
    EXPECT_EQ(virtual_trace(), synced() + written(0xF6, 0x63, 0xFA) + query(0xF6, 0xF6) + kQuiet +
                                   query(0xF8, 0x63) + kQuiet + query(0xFA, 0xFA) + kLongQuiet +
                                   kClosedAndPrompted);
    EXPECT_EQ(virtual_output(), found_on(33) + kWritten + verify_lines(true, true, true) + kPrompt);
    EXPECT_EQ(virtual_device().settings[2], 250);
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
    write_config("246 99 250");
    VirtualSetup setup;
    setup.knobs.silent_after_sync = true;
    EXPECT_EQ(run(run_vantel, setup), 0);
    EXPECT_EQ(virtual_output(),
              found_on(33) + kWritten + verify_lines(false, false, false) + kPrompt);
    EXPECT_EQ(virtual_trace(), synced() + written(0xF6, 0x63, 0xFA) + no_reply(0xF6) +
                                   no_reply(0xF8) + no_reply(0xFA) + kClosedAndPrompted);
}

// A reply is waited for up to its bound, a slow device's too, and then
// counts exactly as a prompt one. One after the bound, or a second copy of
// a reply, puts the line out of step: the run stops, no verify line printed.
TEST_F(VantelRun, LateRepliesCountWithinTheBoundAndStopTheRunAfterIt) {
    write_config("10 2 3");
    VirtualSetup slow;
    slow.knobs.reply_delay_ms = 700;
    EXPECT_EQ(run(run_vantel, slow), 0);
    EXPECT_EQ(virtual_output(), found_on(33) + kWritten + verify_lines(true, true, true) + kPrompt);
    EXPECT_NE(virtual_trace().find(">F8 p20 " + repeat("t50", 13) + "w30 <02 " + kQuiet + ">FA "),
              std::string::npos)
        << virtual_trace();

    VirtualSetup too_late;
    too_late.knobs.reply_delay_ms = kReplyBoundMs + 100;
    VirtualSetup doubled;
    doubled.knobs.repeat_reply_ms = 25;
    const struct {
        VirtualSetup setup;
        const char* what;
    } cases[] = {
        {too_late, "1 byte, last 0A, at the reply to F6"},
        {doubled, "1 byte, last 0A, after the reply to F6"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(run_vantel, c.setup), 1);
        EXPECT_EQ(virtual_output(), found_on(33) + kWritten + unasked(c.what));
        EXPECT_EQ(sent_bytes(virtual_trace()), sent_bytes(synced() + written(10, 2, 3)) + ">F6");
    }
    EXPECT_NE(virtual_trace().find(">F6 p20 <0A w5 <0A close "), std::string::npos);

    // Later still: the pager's reply comes in the table's window, where
    // after a missed reply no byte can be told from a late one.
    VirtualSetup later_still;
    later_still.knobs.reply_delay_ms = 2100;
    EXPECT_EQ(run(run_vantel, later_still), 1);
    EXPECT_EQ(virtual_output(),
              found_on(33) + kWritten + unasked("1 byte, last 0A, at the reply to F8"));
}

// A loopback gives back every byte. It shows at the first setter, which
// still goes out whole, before any verify line.
TEST_F(VantelRun, AnEchoingLineStopsTheRunAtTheFirstSetter) {
    write_config("5 6 250");
    VirtualSetup loopback;
    loopback.knobs.mute = true;
    loopback.knobs.local_echo = true;
    EXPECT_EQ(run(run_vantel, loopback), 1);
    EXPECT_EQ(virtual_output(), found_on(33) + "\n\nWrite:" +
                                    echoes("1 byte, last F5, at the value of the pager setter"));
    const std::string end = kQuiet + ">F5 p20 <F5 >05 p20 close ";
    EXPECT_EQ(virtual_trace().substr(virtual_trace().size() - end.size()), end);
}

// An echo that begins only after the setters shows at the first verify: its
// reply is the question F6 itself, with the device's after it.
TEST_F(VantelRun, AnEchoThatBeginsAtTheVerifyIsNamed) {
    write_config("5 6 7");
    VirtualSetup setup;
    setup.knobs.reply_delay_ms = 2;
    setup.ports[0].strays = {{621, 0xF6}};  // F6 goes out at 620 ms
    EXPECT_EQ(run(run_vantel, setup), 1);
    EXPECT_EQ(virtual_output(),
              found_on(33) + kWritten + echoes("1 byte, last 05, after the reply to F6"));
}

TEST_F(VantelRun, ALostLineEndsTheRunWithNothingMoreSent) {
    write_config("10 2 3");
    VirtualSetup pulled;
    pulled.knobs.hangup_after_bytes = 20 + 3;  // the syncs, F5, its value and F7
    EXPECT_EQ(run(run_vantel, pulled), 1);
    EXPECT_EQ(virtual_output(), found_on(33) + "\n\nWrite:\nPager writen" +
                                    "\nError: the line to the device was lost.");
    EXPECT_EQ(virtual_trace(), synced() + set(0xF5, 0x0A) + ">F7 p20 close ");
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
