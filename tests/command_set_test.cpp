#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "line_responder.h"
#include "port_dir.h"
#include "serial_link/serial_link.h"
#include "test_clock.h"

namespace {

// A gate opened on COM33, wired to `device`.
struct Wired {
    PortDir dir;
    SerialGateAt gate;
    explicit Wired(const LineResponder& device) : gate(link(dir, device)) {
        EXPECT_TRUE(gate.Open(33, 9600));
    }
    static PortPaths link(const PortDir& dir, const LineResponder& device) {
        dir.link("ttyUSB0", device.path());
        return dir.paths();
    }
};

TEST(Pause, NeverEndsEarly) {
    for (int ms : {1, 10, 20}) {
        for (int i = 0; i < 5; ++i) {
            const auto start = Clock::now();
            pause_ms(ms);
            EXPECT_GE(ms_since(start), ms);
        }
    }
}

TEST(SendByte, SendsTheValueThroughTheExchangeByteAndPauses) {
    LineResponder device(LineResponder::silent());
    Wired wired(device);
    std::uint8_t exchange = 0;
    for (std::uint8_t value : {0x00, 0x0A, 0x0D, 0x11, 0x13, 0xF5, 0xFF}) {
        const auto start = Clock::now();
        send_byte(wired.gate, exchange, value, kPauseLongMs);
        EXPECT_GE(ms_since(start), kPauseLongMs);
        EXPECT_EQ(exchange, value);
    }
    pause_ms(50);
    EXPECT_EQ(device.received(),
              (std::vector<std::uint8_t>{0x00, 0x0A, 0x0D, 0x11, 0x13, 0xF5, 0xFF}));
}

TEST(QueryByte, ReturnsTheReplyEvenWhenItEqualsTheCommand) {
    LineResponder device([](std::uint8_t byte, int) -> std::optional<std::uint8_t> {
        return byte == CMD_GET_PAGER ? CMD_GET_PAGER : std::uint8_t{7};
    });
    Wired wired(device);
    std::uint8_t exchange = 0;
    EXPECT_EQ(query_byte(wired.gate, exchange, CMD_GET_PAGER), std::optional<std::uint8_t>(0xF6));
    EXPECT_EQ(query_byte(wired.gate, exchange, CMD_GET_TABLE), std::optional<std::uint8_t>(7));
    EXPECT_EQ(exchange, 7);
}

TEST(QueryByte, MissingReplyIsNotAByte) {
    LineResponder device(LineResponder::silent());
    Wired wired(device);
    std::uint8_t exchange = 0;
    for (std::uint8_t command : {CMD_GET_PAGER, CMD_GET_TABLE, CMD_GET_PAGER_TO_TABLE}) {
        EXPECT_EQ(query_byte(wired.gate, exchange, command), std::nullopt);
    }
}

TEST(QueryByte, StaleInputIsNotTakenAsTheReply) {
    LineResponder device([](std::uint8_t, int) { return std::optional<std::uint8_t>(42); });
    Wired wired(device);
    // A late sync echo sitting in the input before the question.
    const std::uint8_t stale = CMD_SYNC;
    ASSERT_EQ(write(device.master(), &stale, 1), 1);
    pause_ms(20);
    std::uint8_t exchange = 0;
    EXPECT_EQ(query_byte(wired.gate, exchange, CMD_GET_TABLE), std::optional<std::uint8_t>(42));
    EXPECT_EQ(query_byte(wired.gate, exchange, CMD_GET_TABLE), std::optional<std::uint8_t>(42));
}

TEST(RecvReply, TakesALateReplyWithinTheBound) {
    LineResponder device(LineResponder::silent());
    Wired wired(device);
    std::thread late([&] {
        pause_ms(120);
        const std::uint8_t reply = 0x00;
        (void)!write(device.master(), &reply, 1);
    });
    std::uint8_t exchange = 0xEE;
    EXPECT_EQ(recv_reply(wired.gate, exchange, 1000), std::optional<std::uint8_t>(0));
    EXPECT_EQ(exchange, 0);
    late.join();
}

TEST(RecvReply, GivesUpAfterTheBoundWithoutSpinning) {
    LineResponder device(LineResponder::silent());
    Wired wired(device);
    SerialGate closed;  // no port open: its Recv returns at once
    for (SerialGate* gate : {static_cast<SerialGate*>(&wired.gate), &closed}) {
        std::uint8_t exchange = 0;
        const auto start = Clock::now();
        const double cpu_start = thread_cpu_ms();
        EXPECT_EQ(recv_reply(*gate, exchange, 300), std::nullopt);
        const double wall = ms_since(start);
        EXPECT_GE(wall, 300);
        EXPECT_LT(wall, 2000);
        // Generous: a spinning loop would burn the whole 300 ms.
        EXPECT_LT(thread_cpu_ms() - cpu_start, 0.5 * wall);
    }
}

}  // namespace
