// Discovery end to end: both programs, run by devsim, find the simulated
// device (or report that nothing answers) through real pseudo-terminals.
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

const std::string kNotResponding = "\nWait sync ...error - not responding\n";

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Checks that `wire` starts with exactly 20 sync bytes, paced by the host's
// 20 ms pause. The times are the device thread's reads, late by its wake-up
// delay, which varies with load: one late read lengthens one gap and
// shortens the next. So each gap is held to 10 ms and the whole burst to
// 19 gaps of 20 ms less 10 ms for its two ends. A host that skipped its
// pause, or paused 10 ms, fails either.
void expect_sync_burst(const std::vector<WireByte>& wire, const std::string& where) {
    ASSERT_GE(wire.size(), 20u) << where;
    for (std::size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(wire[i].byte, 0xFF) << where << " byte " << i;
        if (i > 0) {
            EXPECT_GE(wire[i].ms - wire[i - 1].ms, 10.0) << where << " sync " << i + 1;
        }
    }
    EXPECT_GE(wire[19].ms - wire[0].ms, 19 * 20.0 - 10.0) << where;
    if (wire.size() > 20) {
        EXPECT_NE(wire[20].byte, 0xFF) << where << ": a 21st sync";
    }
}

struct Program {
    const char* name;
    const char* path;
};

void PrintTo(const Program& program, std::ostream* os) {
    *os << program.name;
}

class DiscoveryE2e : public E2eTest<::testing::TestWithParam<Program>> {
  protected:
    E2eRun run(const std::vector<std::string>& devsim_args) {
        return run_program(GetParam().path, devsim_args);
    }
};

TEST_P(DiscoveryE2e, FindsTheDevice) {
    const E2eRun r = run({});
    EXPECT_TRUE(starts_with(r.out, found_on(33, 20))) << r.out;
    expect_sync_burst(r.rx, "device");
    const std::vector<std::uint8_t> sent = bytes_of(r.tx);
    ASSERT_GE(sent.size(), 20u);
    EXPECT_EQ(std::vector<std::uint8_t>(sent.begin(), sent.begin() + 20),
              std::vector<std::uint8_t>(20, 0xFF));
}

TEST_P(DiscoveryE2e, NoDeviceAttached) {
    const E2eRun r = run({"--absent"});
    EXPECT_EQ(r.out, kNotResponding);
    EXPECT_EQ(r.exit_status, 1);
}

TEST_P(DiscoveryE2e, SyncAnsweredWithAnotherByte) {
    const E2eRun r = run({"--sync-reply", "55"});
    EXPECT_EQ(r.out, kNotResponding);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(bytes_of(r.rx), std::vector<std::uint8_t>(20, 0xFF));
    EXPECT_EQ(bytes_of(r.tx), std::vector<std::uint8_t>(20, 0x55));
}

TEST_P(DiscoveryE2e, SilentPortsComeFirst) {
    const E2eRun r = run({"--silent-ports", "2"});
    EXPECT_TRUE(starts_with(r.out, found_on(35, 20))) << r.out;
    ASSERT_EQ(r.silent_rx.size(), 2u);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(r.silent_rx[k].size(), 20u) << "ttyUSB" << k;
        expect_sync_burst(r.silent_rx[k], "ttyUSB" + std::to_string(k));
    }
    expect_sync_burst(r.rx, "device");
    // One port at a time, in list order.
    if (!r.silent_rx[0].empty() && !r.silent_rx[1].empty() && !r.rx.empty()) {
        EXPECT_LT(r.silent_rx[0].back().ms, r.silent_rx[1].front().ms);
        EXPECT_LT(r.silent_rx[1].back().ms, r.rx.front().ms);
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, DiscoveryE2e,
                         ::testing::Values(Program{"vantel", VANTEL_PATH},
                                           Program{"brisko", BRISKO_PATH}),
                         [](const ::testing::TestParamInfo<Program>& info) {
                             return std::string(info.param.name);
                         });

// A device that echoes only some syncs: one dot per echo, found all the same
// when at least one came. Run with vantel, which stops right after discovery
// (no config.txt).
TEST(DiscoveryEchoes, OneDotPerEcho) {
    SKIP_WITHOUT_NAMESPACES();
    const struct {
        std::vector<std::string> args;
        int dots;
    } cases[] = {
        {{"--echo-syncs", "20"}, 1}, {{"--echo-syncs", "1,7-9"}, 4}, {{"--echo-every", "2"}, 10},
        {{"--echo-syncs", "21"}, 0}, {{"--silent-after-sync"}, 20},
    };
    const std::string workdir = make_workdir();
    ASSERT_FALSE(workdir.empty());
    for (const auto& c : cases) {
        const E2eRun r = run_with_device(VANTEL_PATH, c.args, workdir);
        const std::string label = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
        if (c.dots == 0) {
            EXPECT_EQ(r.out, kNotResponding) << label;
            EXPECT_EQ(r.exit_status, 1) << label;
        } else {
            EXPECT_TRUE(starts_with(r.out, found_on(33, c.dots))) << label << ": " << r.out;
        }
        expect_sync_burst(r.rx, label);
    }
    remove_workdir(workdir);
}

}  // namespace
