#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "port_list.h"
#include "port_list_win32.h"
#include "serial_link/serial_link.h"

namespace {

double ms_since(LARGE_INTEGER start) {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER counter_now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

TEST(ComPortNumber, ReadsComNames) {
    const struct {
        const char* name;
        int number;
    } cases[] = {
        {"COM1", 1},    {"COM5", 5},   {"com12", 12},          {"CoM255", 255},
        {"COM256", -1}, {"COM0", -1},  {"COM05", -1},          {"COM", -1},
        {"COM1a", -1},  {"LPT1", -1},  {"COM99999999999", -1}, {"", -1},
        {" COM1", -1},  {"COM1 ", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(com_port_number(c.name), c.number) << '"' << c.name << '"';
    }
}

// The machine's list (under Wine at least COM1) comes out ascending, each
// port once with state 1, and everything after the count zeroed.
TEST(PortList, AscendingWithStateOne) {
    PortInfo info;
    std::memset(info.bytes, 0xAA, sizeof info.bytes);
    fill_port_list(PortPaths{}, &info);
    ASSERT_LE(info.count(), PortInfo::kMaxEntries);
    for (int i = 0; i < info.count(); ++i) {
        EXPECT_EQ(info.state(i), 1) << "entry " << i;
        EXPECT_GE(info.port(i), 1) << "entry " << i;
        if (i > 0) {
            EXPECT_LT(info.port(i - 1), info.port(i)) << "entry " << i;
        }
    }
    for (int i = 2 * info.count(); i < PortInfo::kCountOffset; ++i) {
        EXPECT_EQ(info.bytes[i], 0) << "byte " << i;
    }
}

// A port that is not there fails to open, and the gate stays quiet: sends
// nothing, reads nothing, closes nothing, and does not wait.
TEST(SerialGate, MissingPortIsQuiet) {
    SerialGate gate;
    for (int port : {0, 200, 255, 256, -1}) {
        EXPECT_FALSE(gate.Open(port, 9600)) << "COM" << port;
        EXPECT_FALSE(gate.IsOpen());
    }
    char byte = static_cast<char>(0xFF);
    const LARGE_INTEGER start = counter_now();
    EXPECT_EQ(gate.Send(&byte, 1), 0);
    EXPECT_EQ(gate.Recv(&byte, 1), 0);
    gate.DiscardInput();
    gate.Close();
    EXPECT_LT(ms_since(start), 1000.0);
    EXPECT_EQ(static_cast<unsigned char>(byte), 0xFF);
}

// Pauses are minimums on the performance counter, whatever the timer tick.
TEST(Pause, LastsAtLeastTheAskedTime) {
    for (int ms : {1, 10, 20}) {
        for (int round = 0; round < 3; ++round) {
            const LARGE_INTEGER start = counter_now();
            pause_ms(ms);
            const double took = ms_since(start);
            EXPECT_GE(took, ms) << ms << " ms";
            EXPECT_LT(took, ms + 2000.0) << ms << " ms";
        }
    }
}

}  // namespace
