// brisko's whole run on virtual time: every byte on the wire with the pauses
// around it, the replies scripted, and the output, checked exactly.
#include "brisko/run.h"

#include <gtest/gtest.h>

#include "virtual/virtual_run.h"

namespace {

// The geometry queries of a device with `tables` tables of `entries`, its
// pager setting 10.
std::string geometry(int tables, int entries) {
    return query(0xF6, 10) + query(0xF8, static_cast<std::uint8_t>(tables)) +
           query(0xFA, static_cast<std::uint8_t>(entries));
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
              synced() + geometry(2, 3) + clears(2, 3) + checks + kClosedAndPrompted);
    EXPECT_EQ(virtual_output(), expected_out("......", "......", "  0"));
}

TEST_F(BriskoRun, EntriesThatStayUnclearedAreMarkedAndCounted) {
    VirtualSetup setup = device(2, 3);
    setup.knobs.uncleared = {{1, 0}, {2, 2}, {2, 1}};
    EXPECT_EQ(run(run_brisko, setup), 0);
    EXPECT_EQ(virtual_output(), expected_out("......", "e...ee", "  3"));
    EXPECT_NE(virtual_trace().find(check(2, 2, 0x01)), std::string::npos);
}

// The device answers only after a command's last byte: a copy of the last
// reply that comes during the next command is dropped, not taken for its
// reply.
TEST_F(BriskoRun, ACopyOfAReplyIsNeverTakenForTheNextEntrysReply) {
    VirtualSetup setup = device(1, 3);
    setup.knobs.uncleared = {{1, 2}};
    setup.knobs.repeat_reply_ms = 25;
    EXPECT_EQ(run(run_brisko, setup), 0);
    EXPECT_EQ(virtual_output(), expected_out("...", "..e", "  1"));
    EXPECT_NE(virtual_trace().find(">F1 p10 >01 p10 x00 >01 p10 <00 p10 "
                                   ">F1 p10 >01 p10 x00 >02 p10 <01 p10 close "),
              std::string::npos)
        << virtual_trace();
}

TEST_F(BriskoRun, EmptyGeometrySendsNoEntryCommands) {
    for (const auto& [tables, entries] : {std::pair{0, 3}, {2, 0}, {0, 0}}) {
        EXPECT_EQ(run(run_brisko, device(tables, entries)), 0);
        EXPECT_EQ(virtual_output(), expected_out("", "", "  0")) << tables << "x" << entries;
        EXPECT_EQ(virtual_trace(), synced() + geometry(tables, entries) + kClosedAndPrompted);
    }
}

TEST_F(BriskoRun, LateRepliesCountWithinTheBoundAndNeverAnswerTheNextQuery) {
    EXPECT_EQ(run(run_brisko, device(2, 3)), 0);
    const std::string prompt_trace = virtual_trace();

    VirtualSetup late = device(2, 3);
    late.knobs.reply_delay_ms = 150;
    EXPECT_EQ(run(run_brisko, late), 0);
    EXPECT_EQ(virtual_output(), expected_out("......", "......", "  0"));
    EXPECT_EQ(sent_bytes(virtual_trace()), sent_bytes(prompt_trace));
    EXPECT_NE(virtual_trace().find(">F1 p10 >02 p10 >02 p10 w140 <00 p10 close "),
              std::string::npos)
        << virtual_trace();

    // Replies after the bound: no geometry, so nothing is erased.
    VirtualSetup too_late = device(2, 3);
    too_late.knobs.reply_delay_ms = 400;
    EXPECT_EQ(run(run_brisko, too_late), 1);
    EXPECT_EQ(virtual_output(),
              found_on(33) + "\n\nErase\nError: the device did not report its table size.");
    EXPECT_EQ(sent_bytes(virtual_trace()), sent_bytes(synced()) + ">F6>F8>FA");
}

// Echoes 300 ms late: discovery takes the early syncs' echoes, and the rest
// are let go before the first question, never taken for the geometry.
TEST_F(BriskoRun, LateSyncEchoesAreNotTakenForTheGeometry) {
    VirtualSetup setup = device(2, 3);
    setup.knobs.sync_delay_ms = 300;
    EXPECT_EQ(run(run_brisko, setup), 0);
    EXPECT_EQ(virtual_output(),
              found_on(33, 6) + "\n\nErase......\nVerify......\nError   0 " + kPrompt);
    EXPECT_NE(virtual_trace().find(repeat("w20 <FF", 14) + kSettled + geometry(2, 3)),
              std::string::npos)
        << virtual_trace();
}

TEST_F(BriskoRun, ALostLineEndsTheRunWithNoDotForAClearNotSent) {
    VirtualSetup pulled = device(2, 3);
    pulled.knobs.hangup_after_bytes = 20 + 3 + 4 + 2;  // two bytes into the second clear
    EXPECT_EQ(run(run_brisko, pulled), 1);
    EXPECT_EQ(virtual_output(),
              found_on(33) + "\n\nErase.\nError: the line to the device was lost.");
    EXPECT_EQ(virtual_trace(),
              synced() + geometry(2, 3) + clear(1, 0) + ">F0 p10 >01 p10 >01! close ");
}

// Every check that gets no reply counts as not clear; sixteen in a row mean
// the device has stopped listening, and the run ends there.
TEST_F(BriskoRun, ADeviceThatStopsAnsweringEndsTheRunAfterSixteenSilentChecks) {
    VirtualSetup fifteen = device(1, 17);
    fifteen.knobs.stop_after_checks = 2;
    EXPECT_EQ(run(run_brisko, fifteen), 0);
    EXPECT_EQ(virtual_output(),
              expected_out(std::string(17, '.'), ".." + std::string(15, 'e'), " 15"));
    EXPECT_NE(virtual_trace().find(">F1 p10 >01 p10 >10 p10 t300 " + kSettled + "p10 close key "),
              std::string::npos)
        << virtual_trace();

    VirtualSetup sixteen = device(1, 18);
    sixteen.knobs.stop_after_checks = 2;
    EXPECT_EQ(run(run_brisko, sixteen), 1);
    EXPECT_EQ(virtual_output(), found_on(33) + "\n\nErase" + std::string(18, '.') + "\nVerify.." +
                                    std::string(16, 'e') +
                                    "\nError: the device stopped answering.");
    EXPECT_NE(virtual_trace().find(">F1 p10 >01 p10 >11 p10 t300 " + kSettled + "close "),
              std::string::npos)
        << virtual_trace();
}

TEST_F(BriskoRun, ADeviceThatReportsNoGeometryIsNotErased) {
    VirtualSetup setup;
    setup.knobs.silent_after_sync = true;
    EXPECT_EQ(run(run_brisko, setup), 1);
    EXPECT_EQ(virtual_output(),
              found_on(33) + "\n\nErase\nError: the device did not report its table size.");
    EXPECT_EQ(virtual_trace(),
              synced() + no_reply(0xF6) + no_reply(0xF8) + no_reply(0xFA) + "close ");
}

}  // namespace
