// pager-ports run by devsim: the probe finds the simulated device behind
// silent ports, and the exit status says whether any port is usable.
#include <gtest/gtest.h>

#include <string>

#include "e2e_support.h"

namespace {

using PagerPortsE2e = E2eTest<>;

TEST_F(PagerPortsE2e, ProbeFindsTheDeviceBehindTwoSilentPorts) {
    const E2eRun r =
        run_with_device(PAGER_PORTS_PATH, {"--silent-ports", "2"}, workdir_, 60000, {"--probe"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_NE(r.out.find("\nCOM33\t/dev/ttyUSB0\t1\tyes\t-\t0\n"
                         "COM34\t/dev/ttyUSB1\t1\tyes\t-\t0\n"
                         "COM35\t/dev/ttyUSB2\t1\tyes\t-\t20\n"
                         "vantel and brisko would use COM35.\n"),
              std::string::npos)
        << r.out;
    // Every port got its 20 sync bytes: the probe stops at none.
    ASSERT_EQ(r.silent_rx.size(), 2u);
    EXPECT_EQ(r.silent_rx[0].size(), 20u);
    EXPECT_EQ(r.silent_rx[1].size(), 20u);
    EXPECT_EQ(r.rx.size(), 20u);
    // With --port, that port alone is looked at and probed.
    const E2eRun one = run_with_device(PAGER_PORTS_PATH, {"--silent-ports", "2"}, workdir_, 60000,
                                       {"--probe", "--port", "/dev/ttyUSB2"});
    EXPECT_EQ(one.exit_status, 0);
    EXPECT_NE(one.out.find("ECHOES\nCOM35\t/dev/ttyUSB2\t1\tyes\t-\t20\n"), std::string::npos)
        << one.out;
    EXPECT_TRUE(one.silent_rx.empty());
}

TEST_F(PagerPortsE2e, ExitStatusSaysWhetherAnyPortIsUsable) {
    const E2eRun none =
        run_with_device(PAGER_PORTS_PATH, {"--absent"}, workdir_, 60000, {"--json"});
    EXPECT_EQ(none.exit_status, 1);
    EXPECT_NE(none.out.find("\"ports\": [],"), std::string::npos) << none.out;
    const E2eRun bad = run_with_device(PAGER_PORTS_PATH, {}, workdir_, 60000, {"--frobnicate"});
    EXPECT_EQ(bad.exit_status, 2);
    EXPECT_TRUE(bad.rx.empty());
}

}  // namespace
