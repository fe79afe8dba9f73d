// Finding the device on virtual time: which ports are opened, in which order,
// every sync byte with its pause, and what is printed.
#include <gtest/gtest.h>

#include "serial_link/serial_link.h"
#include "serial_link/sync_probe.h"
#include "virtual/virtual_run.h"

namespace {

struct Found {
    int port;
    bool open;
};

// The port discovery returns with is open unless the trace ends in a close.
Found discover(const VirtualSetup& setup) {
    virtual_reset(setup);
    SerialGate gate;
    const int port = find_device(gate);
    return {port, !virtual_trace().empty() && !virtual_trace().ends_with("close ")};
}

VirtualSetup echoing(std::vector<int> syncs) {
    VirtualSetup setup;
    setup.knobs.echo_syncs = std::move(syncs);
    return setup;
}

// One sync attempt that got an echo, and one that got none.
const std::string kEcho = ">FF p20 <FF";
const std::string kNoEcho = ">FF p20";

TEST(Discovery, EachEchoGivesOneDotAndAllTwentySyncsGoOut) {
    const Found found = discover(echoing({3, 7, 20}));
    EXPECT_EQ(found.port, 33);
    EXPECT_TRUE(found.open);
    EXPECT_EQ(virtual_output(), found_on(33, 3));
    // Found, and let go when the gate is destroyed. The 17 echoes it still
    // owes are waited for up to the settle's limit, a whole second, and then
    // the line must stay quiet for another.
    EXPECT_EQ(virtual_trace(), "open33 " + repeat(kNoEcho, 2) + repeat(kEcho, 1) +
                                   repeat(kNoEcho, 3) + repeat(kEcho, 1) + repeat(kNoEcho, 12) +
                                   repeat(kEcho, 1) + repeat("t50", 40) + "close ");
}

// The echo still owed is waited for up to the settle's limit, to the
// millisecond; only FF pays it off.
TEST(Discovery, AnOwedEchoIsWaitedForToTheLimit) {
    std::vector<int> nineteen;
    for (int sync = 1; sync <= 19; ++sync) {
        nineteen.push_back(sync);
    }
    VirtualSetup setup = echoing(nineteen);
    // The owed echo is waited for up to the settle's limit, then the line
    // must keep a partial echoer's quiet.
    EXPECT_EQ(discover(setup).port, 33);
    EXPECT_EQ(virtual_now_us(), (400 + kSettleLimitMs + 1000) * 1000);
    // A byte no echo explains pays off nothing: the port is not the device.
    setup.ports[0].strays = {{437, 0x5A}};
    EXPECT_EQ(discover(setup).port, -1);
}

// A port with nothing behind it costs its 20 pauses and nothing more.
TEST(Discovery, APortWithoutEchoesIsClosedAndTheScanGoesOn) {
    VirtualSetup setup;
    setup.ports = {{33, 1, false}, {34, 0, true}, {35, 2, true}, {36, 1, true}, {37, 1, true}};
    const Found found = discover(setup);
    EXPECT_EQ(found.port, 36);
    // Ports whose state is not 1 are never opened, nor any after the winner.
    EXPECT_EQ(virtual_trace(), "open33 " + repeat(kNoEcho, 20) + "close " + synced(36) + "close ");
    EXPECT_EQ(virtual_output(), found_on(36));
    EXPECT_EQ(virtual_now_us(), (400 + 400 + 100) * 1000);
}

// FF noise gives a port dots, but it never falls quiet: the port is not the
// device, and the scan goes on to the real one.
TEST(Discovery, APortFullOfNoiseIsNotTheDevice) {
    VirtualSetup setup;
    setup.ports = {{33, 1, false, 0xFF}, {34, 1, true}};
    const Found found = discover(setup);
    EXPECT_EQ(found.port, 34);
    EXPECT_EQ(virtual_output(),
              "\nWait sync ........."
              "COM33 is noisy, not the device." +
                  found_on(34));
    // The noise at 50, 120, 210, 270, 350 and 400 ms gave the dots; then the
    // line is let fall quiet, for a second at most, and the scan goes on.
    EXPECT_NE(virtual_trace().find(">FF p20 <FF t50 w20 <FF t50 w40 <FF "), std::string::npos);
    EXPECT_NE(virtual_trace().find("<FF t50 w30 close " + synced(34) + "close "),
              std::string::npos);
    EXPECT_EQ(virtual_now_us(), (400 + 1000 + 400 + 100) * 1000);
}

TEST(Discovery, NoAnsweringPortMeansNoDeviceAndNoPortOpen) {
    VirtualSetup wrong_byte;
    wrong_byte.knobs.sync_reply = 0x55;
    VirtualSetup no_ports;
    no_ports.ports.clear();
    VirtualSetup only_state_zero;
    only_state_zero.ports = {{1, 0, true}};
    for (const VirtualSetup& setup : {wrong_byte, no_ports, only_state_zero}) {
        const Found found = discover(setup);
        EXPECT_EQ(found.port, -1);
        EXPECT_FALSE(found.open);
        EXPECT_EQ(virtual_output(), kNotResponding);
    }
    EXPECT_EQ(virtual_trace(), "");  // the last: a port of state 0 is never opened
    discover(wrong_byte);
    EXPECT_EQ(virtual_trace(), "open33 " + repeat(">FF p20 <55", 20) + "close ");
}

// pager-ports runs the same handshake without its dots: both judge every
// port alike, a line lost on the way included.
TEST(Discovery, TheHandshakeJudgesAPortAlikeWithOrWithoutDots) {
    VirtualSetup lost_in_probe;
    lost_in_probe.knobs.hangup_after_bytes = 5;
    VirtualSetup lost_at_last_sync = echoing({20});
    lost_at_last_sync.knobs.sync_delay_ms = 30;  // the one echo is still owed
    lost_at_last_sync.knobs.hangup_after_bytes = 20;
    VirtualSetup lost_in_settle = echoing({1, 2});
    lost_in_settle.hangup_at_ms = 600;  // while the 18 echoes owed are waited for
    VirtualSetup silent;
    silent.ports = {{33, 1, false}};
    VirtualSetup noisy;
    noisy.ports = {{33, 1, false, 0xFF}};
    const struct {
        VirtualSetup setup;
        SyncResult::Verdict verdict;
        int echoes;
    } cases[] = {
        {echoing({}), SyncResult::kDevice, 20},     {echoing({9}), SyncResult::kDevice, 1},
        {silent, SyncResult::kSilent, 0},           {noisy, SyncResult::kNoisy, 6},
        {lost_in_probe, SyncResult::kLineLost, 4},  {lost_at_last_sync, SyncResult::kLineLost, 0},
        {lost_in_settle, SyncResult::kLineLost, 2},
    };
    for (const auto& c : cases) {
        for (bool dots : {true, false}) {
            virtual_reset(c.setup);
            SerialGate gate;
            gate.Open(33, kDeviceBaud);
            const SyncResult sync = sync_with_port(gate, dots);
            EXPECT_EQ(sync.verdict, c.verdict) << c.echoes << (dots ? " dots" : "");
            EXPECT_EQ(sync.echoes, c.echoes);
            EXPECT_EQ(virtual_output(), std::string(dots ? c.echoes : 0, '.'));
        }
    }
}

}  // namespace
