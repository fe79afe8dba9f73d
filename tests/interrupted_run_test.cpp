// An interrupted run on virtual time: the command in flight goes out whole,
// with its pauses, then nothing more; the port is closed and the process dies
// of the signal. Death tests: the run really ends the process, whose last
// words (virtual_platform.h) are what it printed, "|", and its trace.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "brisko/run.h"
#include "vantel/run.h"
#include "virtual/virtual_run.h"

namespace {

using InterruptedRun = VirtualRun;

// The whole output, then the trace's `end`: a regular expression.
std::string printed(const std::string& output, const std::string& end) {
    std::string quoted;
    for (char c : output) {
        if (std::strchr(".[]()*+?{}|^$\\", c) != nullptr) {
            quoted += '\\';
        }
        quoted += c;
    }
    return "^" + quoted + "\\|" + end;
}

// The whole output and the whole trace.
std::string whole(const std::string& output, const std::string& trace) {
    return printed(output, trace + "@[0-9.]+$");
}

VirtualSetup interrupted_after(int bytes) {
    VirtualSetup setup;
    setup.interrupt_after_bytes = bytes;
    return setup;
}

TEST_F(InterruptedRun, VantelFinishesTheSetterInFlight) {
    write_config("10 2 3");
    // Ctrl+C right after F7: its value still goes out, then nothing.
    EXPECT_EXIT(run(run_vantel, interrupted_after(20 + 3)), ::testing::KilledBySignal(SIGINT),
                whole(found_on(33) + "\n\nWrite:\nPager writen\nTable writen",
                      synced() + set(0xF5, 0x0A) + set(0xF7, 0x02) + "close "));
}

TEST_F(InterruptedRun, BriskoFinishesTheClearOrCheckInFlight) {
    // Two bytes into the second clear, and one byte into the first check,
    // which goes out whole and gets its reply.
    EXPECT_EXIT(run(run_brisko, interrupted_after(20 + 3 + 4 + 2)),
                ::testing::KilledBySignal(SIGINT),
                whole(found_on(33) + "\n\nErase..", synced() + query(0xF6, 10) + query(0xF8, 2) +
                                                        query(0xFA, 3) + kQuiet + clear(1, 0) +
                                                        clear(1, 1) + "close "));
    std::string clears;
    for (int t = 1; t <= 2; ++t) {
        for (int e = 0; e < 3; ++e) {
            clears += clear(t, e);
        }
    }
    EXPECT_EXIT(run(run_brisko, interrupted_after(20 + 3 + 6 * 4 + 1)),
                ::testing::KilledBySignal(SIGINT),
                whole(found_on(33) + "\n\nErase......\nVerify",
                      synced() + query(0xF6, 10) + query(0xF8, 2) + query(0xFA, 3) + kQuiet +
                          clears + ">F1 p10 >01 p10 >00 p10 <00 close "));
}

// Ctrl+C during a wait ends it after the slice it came in, 50 ms at most:
// the close's time is the trace's last word. Each case: the setup, the
// output, and the end of the trace, the close at least.
TEST_F(InterruptedRun, EveryWaitEndsWithinOneSlice) {
    VirtualSetup probing = interrupted_after(-1);
    probing.ports = {{33, 1, false}};
    probing.interrupt_at_ms = 105;
    VirtualSetup settling;
    settling.ports = {{33, 1, false, 0xFF}};
    settling.interrupt_at_ms = 700;  // noise at 620, 700, 750: in the settle
    VirtualSetup replying;
    replying.knobs.table = 1;
    replying.knobs.pager_to_table = 1;
    replying.knobs.stop_after_checks = 0;
    replying.interrupt_at_ms = 800;  // the first check's bound runs from 740 ms
    VirtualSetup staying_quiet = replying;
    staying_quiet.interrupt_at_ms = 1800;  // its late reply is waited for from 1740
    const std::string checking = found_on(33) + "\n\nErase.\nVerify";
    const struct {
        VirtualSetup setup;
        std::string output;
        std::string end;
    } cases[] = {
        {probing, "\nWait sync ...", ">FF p20 close @120$"},
        {settling, "\nWait sync ..." + std::string(6, '.'), "t50 w30 <FF close @700$"},
        {replying, checking, ">00 p10 t50 t50 close @840$"},
        {staying_quiet, checking, repeat("t50", 20) + "t50 t50 close @1840$"},
    };
    for (const auto& c : cases) {
        EXPECT_EXIT(run(run_brisko, c.setup), ::testing::KilledBySignal(SIGINT),
                    printed(c.output, ".*" + c.end));
    }
}

}  // namespace
