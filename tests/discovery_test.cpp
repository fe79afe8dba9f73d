#include <gtest/gtest.h>

#include <set>
#include <string>

#include "discovery.h"
#include "line_responder.h"
#include "port_dir.h"
#include "serial_link/serial_link.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Echoes only the sync attempts (counted from 1) named in `attempts`.
LineResponder::Policy echo_on(std::set<int> attempts) {
    return [attempts](std::uint8_t byte, int index) -> std::optional<std::uint8_t> {
        if (attempts.count(index + 1) == 0) {
            return std::nullopt;
        }
        return byte;
    };
}

struct Discovery {
    int port;
    std::string out;
};

Discovery discover(SerialGate& gate) {
    CaptureStdout();
    const int port = find_device(gate);
    return {port, GetCapturedStdout()};
}

TEST(Discovery, NoPortsMeansNoDevice) {
    PortDir dir;
    SerialGateAt gate(dir.paths());
    const Discovery found = discover(gate);
    EXPECT_EQ(found.port, -1);
    EXPECT_EQ(found.out, "\nWait sync ...error - not responding\n");
    EXPECT_FALSE(gate.IsOpen());
}

TEST(Discovery, PortWithoutUartIsNeverOpened) {
    PortDir dir;
    LineResponder device(LineResponder::echo());
    dir.link("ttyS0", device.path());
    dir.uart_type("ttyS0", "0");

    SerialGateAt gate(dir.paths());
    const Discovery found = discover(gate);
    EXPECT_EQ(found.port, -1);
    EXPECT_EQ(found.out, "\nWait sync ...error - not responding\n");
    EXPECT_TRUE(device.received().empty());
}

TEST(Discovery, SomeEchoesGiveOneDotEachAndTheEchoingPortWins) {
    PortDir dir;
    LineResponder device(echo_on({3, 7, 20}));
    dir.link("ttyUSB0", device.path());

    SerialGateAt gate(dir.paths());
    const Discovery found = discover(gate);
    EXPECT_EQ(found.port, 33);
    EXPECT_EQ(found.out, "\nWait sync ......found on COM33 ok.");
    EXPECT_TRUE(gate.IsOpen());
    // No early stop after the first echo: all twenty sync bytes go out.
    EXPECT_EQ(device.received(), std::vector<std::uint8_t>(kSyncAttempts, CMD_SYNC));
}

TEST(Discovery, BytesOtherThanTheSyncByteAreNotEchoes) {
    PortDir dir;
    LineResponder device([](std::uint8_t, int) { return std::optional<std::uint8_t>(0x55); });
    dir.link("ttyUSB0", device.path());

    SerialGateAt gate(dir.paths());
    const Discovery found = discover(gate);
    EXPECT_EQ(found.port, -1);
    EXPECT_EQ(found.out, "\nWait sync ...error - not responding\n");
    EXPECT_FALSE(gate.IsOpen());
}

TEST(Discovery, FirstAnsweringPortWinsAndLaterPortsAreNeverOpened) {
    PortDir dir;
    LineResponder silent(LineResponder::silent());
    LineResponder first(LineResponder::echo());
    LineResponder second(LineResponder::echo());
    dir.link("ttyUSB0", silent.path());
    dir.link("ttyUSB1", first.path());
    dir.link("ttyUSB2", second.path());

    SerialGateAt gate(dir.paths());
    const Discovery found = discover(gate);
    EXPECT_EQ(found.port, 34);
    EXPECT_EQ(found.out,
              "\nWait sync ...." + std::string(kSyncAttempts - 1, '.') + "found on COM34 ok.");
    EXPECT_EQ(silent.received().size(), static_cast<std::size_t>(kSyncAttempts));
    EXPECT_TRUE(second.received().empty());

    // The silent port was let go: another program may take it now.
    SerialGateAt other(dir.paths());
    EXPECT_TRUE(other.Open(33, 9600));
    EXPECT_FALSE(other.Open(34, 9600)) << "the found port stays held";
}

TEST(Discovery, ProbeOnAPortThatFailedToOpenFindsNothing) {
    PortDir dir;
    SerialGateAt gate(dir.paths());
    EXPECT_FALSE(gate.Open(33, 9600));
    CaptureStdout();
    EXPECT_EQ(probe_port(gate), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
}

}  // namespace
