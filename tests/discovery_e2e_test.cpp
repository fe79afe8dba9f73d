// Discovery end to end: both programs, run by devsim, find the simulated
// device (or report that nothing answers) through real pseudo-terminals.
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Checks that `wire` starts with exactly 20 sync bytes and no more.
void expect_sync_burst(const std::vector<WireByte>& wire, const std::string& where) {
    ASSERT_GE(wire.size(), 20u) << where;
    for (std::size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(wire[i].byte, 0xFF) << where << " byte " << i;
    }
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
    EXPECT_EQ(r.out, transcript("no-device"));
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

}  // namespace
