// brisko end to end: the erase-and-verify run against the simulated device,
// its output and the bytes on the wire checked exactly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kFound = found_on(33);
const std::string kPrompt = "\nPress any key ...";

// What a complete run puts on the wire for a device of the given geometry.
Bytes expected_wire(int tables, int entries) {
    Bytes wire = {0xF6, 0xF8, 0xFA};
    for (int t = 1; t <= tables; ++t) {
        for (int e = 0; e < entries; ++e) {
            wire.insert(wire.end(),
                        {0xF0, static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(e), 0x00});
        }
    }
    for (int t = 1; t <= tables; ++t) {
        for (int e = 0; e < entries; ++e) {
            wire.insert(wire.end(),
                        {0xF1, static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(e)});
        }
    }
    return wire;
}

std::string expected_out(const std::string& clear_marks, const std::string& check_marks,
                         const std::string& count) {
    return kFound + "\n\nErase" + clear_marks + "\nVerify" + check_marks + "\nError " + count +
           " " + kPrompt;
}

class BriskoE2e : public E2eTest<> {
  protected:
    E2eRun run(const std::vector<std::string>& devsim_args) {
        return run_program(BRISKO_PATH, devsim_args);
    }
};

TEST_F(BriskoE2e, ClearsAndChecksEveryEntryInTableMajorOrder) {
    const E2eRun r = run({"--tables", "2", "--entries", "3"});
    EXPECT_EQ(r.out, expected_out("......", "......", "  0"));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(after_sync(r), expected_wire(2, 3));
}

TEST_F(BriskoE2e, EmptyGeometrySendsNoEntryCommands) {
    for (const char* knobs : {"0 3", "2 0", "0 0"}) {
        const std::string tables(knobs, 1), entries(knobs + 2, 1);
        const E2eRun r = run({"--tables", tables, "--entries", entries});
        EXPECT_EQ(r.out, expected_out("", "", "  0")) << knobs;
        EXPECT_EQ(r.exit_status, 0) << knobs;
        EXPECT_EQ(after_sync(r), (Bytes{0xF6, 0xF8, 0xFA})) << knobs;
    }
}

TEST_F(BriskoE2e, EntriesThatStayUnclearedAreMarkedAndCounted) {
    const E2eRun r = run({"--tables", "2", "--entries", "3", "--uncleared", "1:0", "--uncleared",
                          "2:2", "--uncleared", "2:1"});
    EXPECT_EQ(r.out, expected_out("......", "e...ee", "  3"));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(after_sync(r), expected_wire(2, 3));
}

TEST_F(BriskoE2e, TableNumbersAndIndexesEqualToControlBytesAreArgumentsLikeAnyOther) {
    // Indexes 0A, 0D, 11 and 13 lie inside twenty entries.
    const E2eRun r = run({"--tables", "2", "--entries", "20", "--uncleared", "2:17"});
    EXPECT_EQ(r.out, expected_out(std::string(40, '.'),
                                  std::string(37, '.') + "e" + std::string(2, '.'), "  1"));
    EXPECT_EQ(after_sync(r), expected_wire(2, 20));
}

TEST_F(BriskoE2e, LateRepliesWithinTheBoundStillCount) {
    const E2eRun r = run({"--tables", "1", "--entries", "2", "--reply-delay", "35"});
    EXPECT_EQ(r.out, expected_out("..", "..", "  0"));
}

TEST_F(BriskoE2e, DeviceThatStopsAnsweringChecksStillLetsTheRunEnd) {
    const E2eRun r = run({"--tables", "2", "--entries", "3", "--stop-after-checks", "2"});
    EXPECT_EQ(r.out, expected_out("......", "..eeee", "  4"));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(after_sync(r), expected_wire(2, 3));
}

TEST_F(BriskoE2e, DeviceSilentAfterSyncStopsBeforeClearing) {
    const E2eRun r = run({"--silent-after-sync"});
    EXPECT_EQ(r.out, kFound + "\n\nErase\nError: the device did not report its table size.");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(after_sync(r), (Bytes{0xF6, 0xF8, 0xFA}));
}

TEST_F(BriskoE2e, EntryCommandsArePacedAsTheDeviceNeeds) {
    const E2eRun r = run({"--tables", "1", "--entries", "2"});
    // Skip the sync bytes and the three queries; then per entry F0 t e 00
    // (10, 10, 10, 20 ms), then per entry F1 t e (10, 10 ms, reply, 10 ms).
    ASSERT_EQ(r.rx.size(), 20u + 3 + 8 + 6);
    const std::vector<WireByte> wire(r.rx.begin() + 23, r.rx.end());
    const double pauses[] = {10, 10, 10, 20, 10, 10, 10, 20, 10, 10, 10, 10, 10};
    // Each byte's arrival is noted when the device thread wakes; allow 5 ms
    // of that per gap, and hold the whole span to the sum of the pauses.
    double floor = 0;
    for (std::size_t i = 1; i < wire.size(); ++i) {
        EXPECT_GE(wire[i].ms - wire[i - 1].ms, pauses[i - 1] - 5) << "gap " << i;
        floor += pauses[i - 1];
    }
    EXPECT_GE(wire.back().ms - wire.front().ms, floor - 2);
}

}  // namespace
