#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "port_list.h"
#include "port_list_win32.h"
#include "serial_gate_win32.h"
#include "serial_link/serial_link.h"
#include "survey.h"

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

// An FTDI adapter as its driver leaves it in the registry (Wine lets a test
// write there): its latency timer is shown, and a hint names the setting.
TEST(PagerPorts, FtdiLatencyTimerAndItsHint) {
    const char device[] = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+PAGERTEST";
    const std::string params = std::string(device) + "\\0000\\Device Parameters";
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, params.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const DWORD ms = 16;
    RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>("COM77"), 6);
    RegSetValueExA(key, "LatencyTimer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ms), 4);
    RegCloseKey(key);

    Survey survey;
    for (const int port : {7, 77}) {
        PortEntry entry;
        entry.port = port;
        entry.latency_ms = latency_timer_ms(PortPaths{}, entry);
        survey.ports.push_back(entry);
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, device);
    EXPECT_EQ(survey.ports[0].latency_ms, -1);
    EXPECT_EQ(survey.ports[1].latency_ms, 16);
    std::vector<std::string> hints;
    add_system_hints(PortPaths{}, survey, &hints);
    ASSERT_EQ(hints.size(), 1u);
    EXPECT_EQ(hints[0].rfind("COM77 is an FTDI adapter whose latency timer holds each reply up "
                             "to 16 ms",
                             0),
              0u)
        << hints[0];
    EXPECT_NE(hints[0].find("Latency Timer (msec) to 1."), std::string::npos);
}

TEST(ComPortNumber, ReadsComNames) {
    const struct {
        const char* name;
        int number;
    } cases[] = {
        {"COM1", 1},      {"COM5", 5},   {"com12", 12}, {"CoM255", 255}, {"COM256", 256},
        {"COM0", -1},     {"COM05", -1}, {"COM", -1},   {"COM1a", -1},   {"LPT1", -1},
        {"COM65536", -1}, {"", -1},      {" COM1", -1}, {"COM1 ", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(com_port_number(c.name), c.number) << '"' << c.name << '"';
    }
}

// A value in the serial-port map for the length of a test.
class MappedPort {
  public:
    MappedPort(const char* device, const char* port) : device_(device) {
        HKEY key;
        ok_ = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                              nullptr) == ERROR_SUCCESS;
        if (ok_) {
            ok_ = RegSetValueExA(key, device, 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                                 static_cast<DWORD>(std::strlen(port) + 1)) == ERROR_SUCCESS;
            RegCloseKey(key);
        }
    }
    ~MappedPort() {
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", device_);
    }
    MappedPort(const MappedPort&) = delete;
    MappedPort& operator=(const MappedPort&) = delete;
    bool ok() const { return ok_; }

  private:
    const char* device_;
    bool ok_ = false;
};

// The machine's list (under Wine at least COM1) comes out ascending, each
// port once, everything after the count zeroed; a Bluetooth port in the map
// gets a state other than 1, every other port 1. A port numbered above 255
// is left out of the record, not cut to 8 bits, and listed apart.
TEST(PortList, AscendingBluetoothPassedBy) {
    const MappedPort bluetooth("\\Device\\BthModem3", "COM200");
    const MappedPort serial("\\Device\\Serial9", "COM201");
    const MappedPort past("\\Device\\Serial10", "COM300");
    if (!bluetooth.ok() || !serial.ok() || !past.ok()) {
        GTEST_SKIP() << "the serial-port map cannot be written here";
    }
    PortInfo info;
    std::memset(info.bytes, 0xAA, sizeof info.bytes);
    fill_port_list(PortPaths{}, &info);
    ASSERT_LE(info.count(), PortInfo::kMaxEntries);
    int seen = 0;
    for (int i = 0; i < info.count(); ++i) {
        EXPECT_GE(info.port(i), 1) << "entry " << i;
        if (i > 0) {
            EXPECT_LT(info.port(i - 1), info.port(i)) << "entry " << i;
        }
        EXPECT_NE(info.port(i), 300 & 0xFF) << "COM300 cut to 8 bits";
        if (info.port(i) == 200) {
            EXPECT_NE(info.state(i), 1) << "the Bluetooth port would be probed";
            ++seen;
        } else {
            EXPECT_EQ(info.state(i), 1) << "COM" << info.port(i);
            seen += info.port(i) == 201 ? 1 : 0;
        }
    }
    EXPECT_EQ(seen, 2) << "COM200 and COM201 listed";
    const std::vector<int> past_list = com_ports_past_list();
    EXPECT_EQ(std::count(past_list.begin(), past_list.end(), 300), 1);
    for (int i = 2 * info.count(); i < PortInfo::kCountOffset; ++i) {
        EXPECT_EQ(info.bytes[i], 0) << "byte " << i;
    }
}

// Whatever the driver reported (every bit set here, and both XON/XOFF
// characters 0, as some USB CDC drivers give them), set_raw_8n1 makes the same
// settings: nothing of the driver's survives. They are settings SetCommState
// takes, and a line that passes every byte as it is and never holds it up.
TEST(PortSettings, RawLineWhateverTheDriverReported) {
    DCB from_driver;
    std::memset(&from_driver, 0xFF, sizeof from_driver);
    from_driver.XonChar = 0;
    from_driver.XoffChar = 0;
    DCB from_zero{};
    set_raw_8n1(from_driver, kDeviceBaud);
    set_raw_8n1(from_zero, kDeviceBaud);
    EXPECT_EQ(std::memcmp(&from_driver, &from_zero, sizeof(DCB)), 0);

    const DCB& dcb = from_driver;
    // SetCommState refuses equal XON and XOFF characters, and limits that do
    // not fit the queue, even with XON/XOFF off.
    EXPECT_NE(dcb.XonChar, dcb.XoffChar);
    EXPECT_LE(dcb.XonLim + dcb.XoffLim, 4096);
    // Neither a byte 11 or 13 nor a modem line stops either way of the line,
    // and DTR and RTS stay up for adapters that draw power from them.
    EXPECT_FALSE(dcb.fOutX || dcb.fInX || dcb.fOutxCtsFlow || dcb.fOutxDsrFlow ||
                 dcb.fDsrSensitivity);
    EXPECT_TRUE(dcb.fDtrControl == DTR_CONTROL_ENABLE && dcb.fRtsControl == RTS_CONTROL_ENABLE);
    // Every byte arrives as sent, 8N1 at the rate asked: no 00 dropped, no
    // byte replaced, no read ended by a line error.
    EXPECT_TRUE(dcb.fBinary && !dcb.fNull && !dcb.fErrorChar && !dcb.fParity && !dcb.fAbortOnError);
    EXPECT_TRUE(dcb.BaudRate == 9600 && dcb.ByteSize == 8 && dcb.Parity == NOPARITY &&
                dcb.StopBits == ONESTOPBIT);
}

// A port that is not there fails to open, and the gate stays quiet: sends
// nothing, reads nothing, closes nothing, and does not wait.
TEST(SerialGate, MissingPortIsQuiet) {
    SerialGate gate;
    for (int port : {0, 200, 255, 256, -1}) {
        EXPECT_FALSE(gate.Open(port, 9600)) << "COM" << port;
    }
    char byte = static_cast<char>(0xFF);
    const LARGE_INTEGER start = counter_now();
    EXPECT_EQ(gate.Send(&byte, 1), 0);
    EXPECT_EQ(gate.Recv(&byte, 1), 0);
    gate.Close();
    EXPECT_LT(ms_since(start), 1000.0);
    EXPECT_EQ(static_cast<unsigned char>(byte), 0xFF);
}

// Pauses are minimums on the performance counter, whatever the timer tick.
TEST(Pause, LastsAtLeastTheAskedTime) {
    // Enough rounds for both ways of pausing and the one chosen after them.
    for (int round = 0; round < 6; ++round) {
        for (int ms : {1, 10, 20}) {
            const LARGE_INTEGER start = counter_now();
            pause_ms(ms);
            const double took = ms_since(start);
            EXPECT_GE(took, ms) << ms << " ms";
            EXPECT_LT(took, ms + 2000.0) << ms << " ms";
        }
    }
}

}  // namespace
