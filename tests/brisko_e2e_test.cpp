// brisko end to end: the erase-and-verify run against the simulated device,
// its output and the bytes on the wire checked exactly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kFound = found_on(33);

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
    const E2eRun r = run({});
    EXPECT_EQ(r.out, transcript("brisko-complete"));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(bytes_of(r.rx), transcript_wire("brisko-complete"));
}

TEST_F(BriskoE2e, TableNumbersAndIndexesEqualToControlBytesAreArgumentsLikeAnyOther) {
    // Indexes 0A, 0D, 11 and 13 lie inside twenty entries.
    const E2eRun r = run({"--tables", "2", "--entries", "20", "--uncleared", "2:17"});
    EXPECT_EQ(r.out, expected_out(std::string(40, '.'),
                                  std::string(37, '.') + "e" + std::string(2, '.'), "  1"));
    EXPECT_EQ(after_sync(r), expected_wire(2, 20));
}

// What a real line adds to the runs on virtual time: the system reporting
// a hang-up, and local echo in front of the device, two bytes for each sync
// with the timing of a real port: not the device.
TEST_F(BriskoE2e, AHangUpOrAnEchoingLineStopsTheRun) {
    const struct {
        std::vector<std::string> knobs;
        std::string out;
    } cases[] = {
        {{"--hangup-after", "29"}, kFound + "\n\nErase.\nError: the line to the device was lost."},
        {{"--local-echo"}, "COM33 is noisy, not the device." + kNotResponding},
    };
    for (const auto& c : cases) {
        const E2eRun r = run(c.knobs);
        EXPECT_TRUE(r.out.ends_with(c.out)) << r.out;
        EXPECT_EQ(r.exit_status, 1) << c.knobs[0];
    }
}

}  // namespace
