// brisko's whole run on virtual time: every byte on the wire with the pauses
// around it, the replies scripted, and the output, checked exactly.
#include "brisko/run.h"

#include <gtest/gtest.h>

#include "virtual/virtual_run.h"

namespace {

// The geometry queries of a device with `tables` tables of `entries`, its
// pager setting 10, and the quiet that confirms them.
std::string geometry(int tables, int entries) {
    return query(0xF6, 10) + query(0xF8, static_cast<std::uint8_t>(tables)) +
           query(0xFA, static_cast<std::uint8_t>(entries)) + kQuiet;
}

std::string clears(int tables, int entries) {
    std::string trace;
    for (int t = 1; t <= tables; ++t) {
        for (int e = 0; e < entries; ++e) {
            trace += clear(t, e);
        }
    }
    return trace;
}

std::string expected_out(const std::string& clear_marks, const std::string& check_marks,
                         const std::string& count) {
    return found_on(33) + "\n\nErase" + clear_marks + "\nVerify" + check_marks + "\nError " +
           count + " " + kPrompt;
}

VirtualSetup device(int tables, int entries) {
    VirtualSetup setup;
    setup.knobs.table = tables;
    setup.knobs.pager_to_table = entries;
    return setup;
}

using BriskoRun = VirtualRun;

TEST_F(BriskoRun, ClearsEveryEntryThenChecksEachWithEveryPause) {
    EXPECT_EQ(run(run_brisko, device(2, 3)), 0);
    std::string checks;
    for (int t = 1; t <= 2; ++t) {
        for (int e = 0; e < 3; ++e) {
            checks += check(t, e);
        }
    }
    EXPECT_EQ(virtual_trace(),
              synced() + geometry(2, 3) + clears(2, 3) + checks + kLongQuiet + kClosedAndPrompted);
    EXPECT_EQ(virtual_output(), expected_out("......", "......", "  0"));
}

// 246 is the query byte F6 itself: a device whose pager setting holds it
// answers F6 with F6, and that is no echo.
TEST_F(BriskoRun, APagerSettingOfF6IsNoEcho) {
    VirtualSetup setup = device(1, 2);
    setup.knobs.pager = 0xF6;
    EXPECT_EQ(run(run_brisko, setup), 0);
    EXPECT_EQ(virtual_output(), expected_out("..", "..", "  0"));
}

TEST_F(BriskoRun, EntriesThatStayUnclearedAreMarkedAndCounted) {
    VirtualSetup setup = device(2, 3);
    setup.knobs.uncleared = {{1, 0}, {2, 2}, {2, 1}};
    EXPECT_EQ(run(run_brisko, setup), 0);
    EXPECT_EQ(virtual_output(), expected_out("......", "e...ee", "  3"));
    EXPECT_NE(virtual_trace().find(check(2, 2, 0x01)), std::string::npos);
}

// A copy of a reply, a byte after the bound, or noise: a byte nobody asked
// for stops the run at once, before anything rests on a doubtful reply.
// The device that died after discovery, on a babbling line, ends there too.
TEST_F(BriskoRun, BytesNobodyAskedForStopTheRunBeforeAnyClear) {
    VirtualSetup doubled = device(2, 3);
    doubled.knobs.repeat_reply_ms = 25;
    VirtualSetup too_late = device(2, 3);
    too_late.knobs.reply_delay_ms = kReplyBoundMs + 100;
    VirtualSetup noise = device(2, 3);
    noise.ports[0].noise = 0x5A;
    noise.ports[0].noise_after_ms = 600;  // after discovery
    VirtualSetup dead_on_noise = noise;
    dead_on_noise.knobs.silent_after_sync = true;
    const struct {
        VirtualSetup setup;
        const char* what;
    } cases[] = {
        {doubled, "1 byte, last 0A, after the reply to F8"},  // F6's copy, after F8's reply
        {too_late, "1 byte, last 0A, at the reply to F6"},
        {noise, "1 byte, last 5A, before the first clear"},
        {dead_on_noise, "1 byte, last 5A, after the reply to F6"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(run_brisko, c.setup), 1);
        EXPECT_EQ(virtual_output(), found_on(33) + "\n\nErase" + unasked(c.what));
        EXPECT_EQ(sent_bytes(virtual_trace()).find(">F0"), std::string::npos) << virtual_trace();
    }
    // Noise at 650 ms came far later after F6 than the device's echoes did:
    // at 720 it broke the quiet that was to confirm it.
    EXPECT_EQ(virtual_now_us(), 720000);
    run(run_brisko, doubled);
    EXPECT_EQ(virtual_trace(), synced() + query(0xF6, 10) + query(0xF8, 2) + "<0A close ");
}

// A reply comes any time within its bound, even drifting later at each
// check, and counts as a prompt one. A check whose reply misses the bound
// and comes after it stops the run; every mark printed was the truth.
TEST_F(BriskoRun, SlowAndDriftingRepliesGiveTheTruthUntilTheyMissTheBound) {
    VirtualSetup slow = device(2, 3);
    slow.knobs.reply_delay_ms = 700;
    slow.knobs.uncleared = {{2, 1}};
    EXPECT_EQ(run(run_brisko, slow), 0);
    EXPECT_EQ(virtual_output(), expected_out("......", "....e.", "  1"));
    EXPECT_NE(virtual_trace().find(">F1 p10 >02 p10 >02 p10 " + repeat("t50", 13) + "w40 <00 p10 " +
                                   kLongQuiet + "close "),
              std::string::npos)
        << virtual_trace();

    // The 51st reply, the 48th check's, comes 1020 ms after its question.
    VirtualSetup drifting = device(1, 60);
    drifting.knobs.reply_drift_ms = 20;
    drifting.knobs.uncleared = {{1, 47}};
    EXPECT_EQ(run(run_brisko, drifting), 1);
    // The marks of the last checks sent are still held when the run stops.
    EXPECT_EQ(virtual_output(), found_on(33) + "\n\nErase" + std::string(60, '.') + "\nVerify" +
                                    std::string(41, '.') +
                                    unasked("1 byte, last 00, at the check of table 1, entry 48"));
    EXPECT_NE(virtual_trace().find(">F1 p10 >01 p10 >30 p10 " + kNoReply + "w10 <00 close "),
              std::string::npos)
        << virtual_trace();
}

// A loopback plug answers each question with itself: 248 tables of 250
// entries. Behind local echo the command byte comes first, the device's
// reply after it. Neither gets a clear command.
TEST_F(BriskoRun, AnEchoingLineIsNamedAndNothingIsErased) {
    VirtualSetup loopback = device(2, 3);
    loopback.knobs.mute = true;
    loopback.knobs.local_echo = true;
    EXPECT_EQ(run(run_brisko, loopback), 1);
    EXPECT_EQ(virtual_output(),
              found_on(33) + "\n\nErase" + echoes("3 bytes, last F6 F8 FA, at the reply to FA"));
    EXPECT_EQ(virtual_trace(), synced() + query(0xF6, 0xF6) + query(0xF8, 0xF8) +
                                   query(0xFA, 0xFA) + kQuiet + "close ");

    // Behind local echo each sync comes back twice, more than was sent: not
    // the device, and nothing goes to it.
    VirtualSetup local_echo = device(2, 3);
    local_echo.knobs.local_echo = true;
    EXPECT_EQ(run(run_brisko, local_echo), 1);
    EXPECT_TRUE(virtual_output().ends_with("COM33 is noisy, not the device." + kNotResponding));
    EXPECT_EQ(sent_bytes(virtual_trace()).find(">F6"), std::string::npos) << virtual_trace();
}

// vantel writes at most 99 tables of 250 entries: anything more is no table
// size, and nothing is erased by it.
TEST_F(BriskoRun, AGeometryBeyondAnyTableMemoryIsNotErased) {
    for (const auto& [tables, entries] : {std::pair{100, 3}, {2, 251}, {255, 255}}) {
        EXPECT_EQ(run(run_brisko, device(tables, entries)), 1);
        EXPECT_EQ(virtual_output(), found_on(33) + "\n\nErase\nError: the device reported " +
                                        std::to_string(tables) + " tables of " +
                                        std::to_string(entries) +
                                        " entries, not a table size (at most 99 tables of 250 "
                                        "entries).");
        EXPECT_EQ(virtual_trace(), synced() + geometry(tables, entries) + "close ");
    }
    EXPECT_EQ(run(run_brisko, device(99, 1)), 0);
    EXPECT_EQ(run(run_brisko, device(1, 250)), 0);
}

TEST_F(BriskoRun, EmptyGeometrySendsNoEntryCommands) {
    for (const auto& [tables, entries] : {std::pair{0, 3}, {2, 0}, {0, 0}}) {
        EXPECT_EQ(run(run_brisko, device(tables, entries)), 0);
        EXPECT_EQ(virtual_output(), expected_out("", "", "  0")) << tables << "x" << entries;
        EXPECT_EQ(virtual_trace(), synced() + geometry(tables, entries) + kClosedAndPrompted);
    }
}

// Echoes 380 ms late: discovery takes the first two syncs' echoes, and the
// other 18 are let go before the first question, for as long as they come,
// never taken for the geometry.
TEST_F(BriskoRun, LateSyncEchoesAreNotTakenForTheGeometry) {
    VirtualSetup setup = device(2, 3);
    setup.knobs.sync_delay_ms = 380;
    EXPECT_EQ(run(run_brisko, setup), 0);
    EXPECT_EQ(virtual_output(),
              found_on(33, 2) + "\n\nErase......\nVerify......\nError   0 " + kPrompt);
    EXPECT_NE(virtual_trace().find(repeat("w20 <FF", 18) + kQuiet + geometry(2, 3)),
              std::string::npos)
        << virtual_trace();
}

// Two bytes into the second clear, the line goes away, or stops taking
// bytes: nothing more goes out, and that clear gets no dot.
TEST_F(BriskoRun, ALostOrStoppedLineEndsTheRunWithNoDotForAClearNotSent) {
    VirtualSetup pulled = device(2, 3);
    pulled.knobs.hangup_after_bytes = 20 + 3 + 4 + 2;
    VirtualSetup stopped = device(2, 3);
    stopped.ports[0].takes_bytes = 20 + 3 + 4 + 2;
    const struct {
        VirtualSetup setup;
        const char* end;
        const char* message;
    } cases[] = {
        {pulled, "!", "the line to the device was lost."},
        {stopped, "-",
         "the line did not take a byte sent to the device (its output is stopped, or its "
         "driver failed)."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(run_brisko, c.setup), 1);
        EXPECT_EQ(virtual_output(), found_on(33) + "\n\nErase.\nError: " + c.message);
        EXPECT_EQ(virtual_trace(), synced() + geometry(2, 3) + clear(1, 0) + ">F0 p10 >01 p10 >01" +
                                       c.end + " close ");
    }
}

// A byte nobody asked for is named with the step it came in, whatever mark
// was printed last: a check's mark waits for eight more checks to go out
// clean, or for the quiet after the last.
TEST_F(BriskoRun, AStrayByteIsNamedWithTheStepItCameIn) {
    // Clears from 660 ms, 50 ms each; checks from 960 ms, 40 ms each.
    const struct {
        int at_ms;
        const char* marks;
        const char* where;
    } cases[] = {
        {660 + 4 * 50 + 15, "\n\nErase....", "at the clear of table 2, entry 1"},
        {960 + 5 * 40 + 10, "\n\nErase......\nVerify", "at the check of table 2, entry 2"},
        {960 + 6 * 40 + 50, "\n\nErase......\nVerify", "after the last check"},
    };
    for (const auto& c : cases) {
        VirtualSetup setup = device(2, 3);
        setup.ports[0].strays = {{c.at_ms, 0x5A}};
        EXPECT_EQ(run(run_brisko, setup), 1) << c.where;
        EXPECT_EQ(virtual_output(),
                  found_on(33) + c.marks + unasked(std::string("1 byte, last 5A, ") + c.where));
    }
}

// Every check that gets no reply counts as not clear; sixteen in a row mean
// the device has stopped listening, and the run ends there. An answer in
// between starts the count again.
TEST_F(BriskoRun, ADeviceThatStopsAnsweringEndsTheRunAfterSixteenSilentChecks) {
    const std::string silent_end = kNoReply + kNoReply;
    VirtualSetup fifteen = device(1, 17);
    fifteen.knobs.stop_after_checks = 2;
    EXPECT_EQ(run(run_brisko, fifteen), 0);
    EXPECT_EQ(virtual_output(),
              expected_out(std::string(17, '.'), ".." + std::string(15, 'e'), " 15"));
    EXPECT_NE(virtual_trace().find(">F1 p10 >01 p10 >10 p10 " + silent_end + "p10 close key "),
              std::string::npos)
        << virtual_trace();

    VirtualSetup sixteen = device(1, 18);
    sixteen.knobs.stop_after_checks = 2;
    EXPECT_EQ(run(run_brisko, sixteen), 1);
    EXPECT_EQ(virtual_output(), found_on(33) + "\n\nErase" + std::string(18, '.') + "\nVerify.." +
                                    std::string(16, 'e') +
                                    "\nError: the device stopped answering.");
    EXPECT_NE(virtual_trace().find(">F1 p10 >01 p10 >11 p10 " + silent_end + "close "),
              std::string::npos)
        << virtual_trace();
    EXPECT_LT(virtual_now_us(), 60000000);

    VirtualSetup answered_between = device(1, 17);
    answered_between.knobs.unanswered_checks = {1,  2,  3,  4,  5,  6,  7,  8,
                                                10, 11, 12, 13, 14, 15, 16, 17};
    EXPECT_EQ(run(run_brisko, answered_between), 0);
    EXPECT_EQ(
        virtual_output(),
        expected_out(std::string(17, '.'), std::string(8, 'e') + "." + std::string(8, 'e'), " 16"));
}

TEST_F(BriskoRun, ADeviceThatReportsNoGeometryIsNotErased) {
    VirtualSetup setup;
    setup.knobs.silent_after_sync = true;
    EXPECT_EQ(run(run_brisko, setup), 1);
    EXPECT_EQ(virtual_output(),
              found_on(33) + "\n\nErase\nError: the device did not report its table size.");
    EXPECT_EQ(virtual_trace(), synced() + no_reply(0xF6) + "close ");
}

}  // namespace
