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

TEST_F(BriskoRun, ACopyOfAReplyIsNeverTakenForTheNextEntrysReply) {
    VirtualSetup setup = device(1, 3);
    setup.knobs.uncleared = {{1, 1}};
    setup.knobs.repeat_reply_ms = 5;
    EXPECT_EQ(run(run_brisko, setup), 0);
    EXPECT_EQ(virtual_output(), expected_out("...", ".e.", "  1"));
    EXPECT_NE(virtual_trace().find(check(1, 0) + "x00 " + check(1, 1, 0x01) + "x01 " + check(1, 2)),
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

TEST_F(BriskoRun, ACheckReplyIsWaitedForUpToItsBound) {
    VirtualSetup setup = device(1, 2);
    setup.knobs.reply_delay_ms = 25;
    setup.knobs.stop_after_checks = 1;
    EXPECT_EQ(run(run_brisko, setup), 0);
    EXPECT_EQ(virtual_output(), expected_out("..", ".e", "  1"));
    // The first check's reply comes 25 ms after its entry byte, 15 ms into
    // the wait; the second never comes, and the wait gives up at its bound.
    const std::string first = ">F1 p10 >01 p10 >00 p10 w15 <00 p10 ";
    const std::string second = ">F1 p10 >01 p10 >01 p10 " + repeat("t30", 9) + "p10 ";
    EXPECT_NE(virtual_trace().find(first + second + kClosedAndPrompted), std::string::npos)
        << virtual_trace();
}

TEST_F(BriskoRun, ADeviceThatReportsNoGeometryIsNotErased) {
    VirtualSetup setup;
    setup.knobs.silent_after_sync = true;
    EXPECT_EQ(run(run_brisko, setup), 1);
    EXPECT_EQ(virtual_output(),
              found_on(33) + "\n\nErase\nError: the device did not report its table size.");
    EXPECT_EQ(virtual_trace(), synced() + ">F6 p20 t30 >F8 p20 t30 >FA p20 t30 close ");
}

}  // namespace
