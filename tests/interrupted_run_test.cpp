// An interrupted run on virtual time: the command in flight goes out whole,
// with its pauses, then nothing more; the port is closed and the process dies
// of the signal. Death tests: the run really ends the process.
#include <gtest/gtest.h>

#include <csignal>

#include "brisko/run.h"
#include "vantel/run.h"
#include "virtual/virtual_run.h"

namespace {

using InterruptedRun = VirtualRun;

// The whole trace, as a regular expression that must match to its end.
std::string whole(const std::string& trace) {
    return "^" + trace + "$";
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
                whole(synced() + set(0xF5, 0x0A) + set(0xF7, 0x02) + "close "));
}

TEST_F(InterruptedRun, BriskoFinishesTheClearOrCheckInFlight) {
    // Two bytes into the second clear, and one byte into the first check.
    EXPECT_EXIT(run(run_brisko, interrupted_after(20 + 3 + 4 + 2)),
                ::testing::KilledBySignal(SIGINT),
                whole(synced() + query(0xF6, 10) + query(0xF8, 2) + query(0xFA, 3) + clear(1, 0) +
                      clear(1, 1) + "close "));
    std::string clears;
    for (int t = 1; t <= 2; ++t) {
        for (int e = 0; e < 3; ++e) {
            clears += clear(t, e);
        }
    }
    EXPECT_EXIT(run(run_brisko, interrupted_after(20 + 3 + 6 * 4 + 1)),
                ::testing::KilledBySignal(SIGINT),
                whole(synced() + query(0xF6, 10) + query(0xF8, 2) + query(0xFA, 3) + clears +
                      check(1, 0) + "close "));
}

}  // namespace
