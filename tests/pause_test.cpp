// The protocol's pauses on the real clock: never shorter than asked; and the
// Windows pauses' choice of their way from the overruns of their first pauses.
#include <gtest/gtest.h>

#include "pause_choice.h"
#include "serial_link/serial_link.h"
#include "test_clock.h"

namespace {

TEST(Pause, NeverEndsEarlyAndItsClockAgreesWithTheSteadyClock) {
    for (int ms : {1, 10, 20}) {
        for (int i = 0; i < 5; ++i) {
            const auto start = Clock::now();
            const std::int64_t start_us = steady_us();
            pause_ms(ms);
            EXPECT_GE(ms_since(start), ms);
            EXPECT_GE(steady_us() - start_us, ms * 1000);
        }
    }
}

TEST(PauseChoice, TriesBothInTurnThenKeepsTheOneWithTheSmallerMedianOverrun) {
    struct Case {
        std::int64_t timer_us[PauseChoice::kTrials];  // the overruns of each way's trials
        std::int64_t sleep_us[PauseChoice::kTrials];
        bool timer;  // the way kept
    };
    const Case cases[] = {
        // Sleep lands closer, though the timer had the single best pause.
        {{0, 300, 300, 300, 300, 300, 300, 300}, {100, 100, 100, 100, 100, 100, 100, 100}, false},
        // One pause that the system held up does not decide against the timer.
        {{50, 50, 50, 50, 50, 50, 50, 9000}, {100, 100, 100, 100, 100, 100, 100, 100}, true},
        // Equal: the timer, the first choice, stays.
        {{100, 100, 100, 100, 100, 100, 100, 100}, {100, 100, 100, 100, 100, 100, 100, 100}, true},
    };
    for (const Case& c : cases) {
        PauseChoice choice;
        for (int i = 0; i < PauseChoice::kTrials; ++i) {
            ASSERT_TRUE(choice.use_timer());
            choice.record(true, c.timer_us[i] * 1000);
            ASSERT_FALSE(choice.use_timer());
            choice.record(false, c.sleep_us[i] * 1000);
        }
        EXPECT_EQ(choice.use_timer(), c.timer);
        // The pauses after the trials do not reopen the choice.
        for (int i = 0; i < PauseChoice::kTrials; ++i) {
            choice.record(c.timer, 1000000000);
        }
        EXPECT_EQ(choice.use_timer(), c.timer);
    }
}

}  // namespace
