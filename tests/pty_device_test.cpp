// The simulated device on a pseudo-terminal: it answers, records and delays
// as a device on a serial line would.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "line_io.h"
#include "simulator/pty_device.h"

namespace {

// The device's record once it holds `count` events, waiting up to 2 s: a
// sent byte can reach the host a moment before the device notes it.
std::vector<WireEvent> events_when(PtyDevice* device, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::vector<WireEvent> events = pty_device_events(device);
    while (events.size() < count && std::chrono::steady_clock::now() < deadline) {
        usleep(1000);
        events = pty_device_events(device);
    }
    return events;
}

TEST(PtyDevice, AnswersAndRecordsTheLine) {
    PtyDeviceSetup setup;
    setup.knobs.pager = 0x42;
    std::string error;
    PtyDevice* device = pty_device_start(setup, &error);
    ASSERT_NE(device, nullptr) << error;

    // Every byte 00..FF passes unchanged: set pager to each value that a
    // cooked line would mangle and read it back.
    int port = open_port(pty_device_slave_path(device));
    ASSERT_GE(port, 0);
    for (int value : {0x0A, 0x0D, 0x03, 0x11, 0x13, 0x7F, 0xFF}) {
        send(port, 0xF5);
        send(port, static_cast<std::uint8_t>(value));
        send(port, 0xF6);
        EXPECT_EQ(read_byte(port, 2000), value);
    }
    // Closing the port does not hang up the line: a second opening works.
    close(port);
    port = open_port(pty_device_slave_path(device));
    ASSERT_GE(port, 0);
    send(port, 0xFF);
    EXPECT_EQ(read_byte(port, 2000), 0xFF);
    close(port);

    const std::vector<WireEvent> events = events_when(device, 7 * 4 + 2);
    pty_device_stop(device);
    ASSERT_EQ(events.size(), 7u * 4 + 2);
    EXPECT_FALSE(events[0].sent);
    EXPECT_EQ(events[0].byte, 0xF5);
    EXPECT_TRUE(events.back().sent);
    EXPECT_EQ(events.back().byte, 0xFF);
    for (std::size_t i = 1; i < events.size(); ++i) {
        EXPECT_GE(events[i].ms, events[i - 1].ms);
    }
}

TEST(PtyDevice, DelaysReplies) {
    PtyDeviceSetup setup;
    setup.knobs.sync_delay_ms = 50;
    setup.knobs.reply_delay_ms = 50;
    std::string error;
    PtyDevice* device = pty_device_start(setup, &error);
    ASSERT_NE(device, nullptr) << error;
    const int port = open_port(pty_device_slave_path(device));
    ASSERT_GE(port, 0);

    const auto start = std::chrono::steady_clock::now();
    send(port, 0xFF);
    send(port, 0xF8);
    EXPECT_EQ(read_byte(port, 2000), 0xFF);
    EXPECT_EQ(read_byte(port, 2000), 0x02);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    close(port);

    const std::vector<WireEvent> events = events_when(device, 4);
    pty_device_stop(device);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_TRUE(events[2].sent);
    EXPECT_GE(events[2].ms - events[0].ms, 50.0);
    EXPECT_GE(events[3].ms - events[1].ms, 50.0);
}

TEST(PtyDevice, StopsWithRepliesStillPending) {
    PtyDeviceSetup setup;
    setup.knobs.sync_delay_ms = 60000;
    std::string error;
    PtyDevice* device = pty_device_start(setup, &error);
    ASSERT_NE(device, nullptr) << error;
    const int port = open_port(pty_device_slave_path(device));
    ASSERT_GE(port, 0);
    send(port, 0xFF);
    ASSERT_EQ(events_when(device, 1).size(), 1u);
    const auto start = std::chrono::steady_clock::now();
    pty_device_stop(device);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    close(port);
}

}  // namespace
