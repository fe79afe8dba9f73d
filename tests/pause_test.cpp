// The protocol's pauses on the real clock: never shorter than asked.
#include <gtest/gtest.h>

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

}  // namespace
