#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "brisko/run.h"
#include "port_list.h"
#include "port_list_win32.h"
#include "serial_gate_win32.h"
#include "serial_link/serial_link.h"
#include "survey.h"
#include "win32_scripted_driver.h"

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
        {"COM1", 1},      {"COM5", 5},   {"com12", 12}, {"CoM255", 255}, {"COM256", 256},
        {"COM0", -1},     {"COM05", -1}, {"COM", -1},   {"COM1a", -1},   {"LPT1", -1},
        {"COM65536", -1}, {"", -1},      {" COM1", -1}, {"COM1 ", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(com_port_number(c.name), c.number) << '"' << c.name << '"';
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

// A driver that returns from every read at once, as some do: a silent wait
// still lasts its whole time on the steady clock, sleeping (a handful of
// reads, not thousands), and a reply that an FTDI chip holds back until
// after the first read is still seen within it.
TEST_F(ScriptedWindows, WaitsAreTimedNotCountedOnTheDriver) {
    for (const bool reply : {false, true}) {
        ScriptedPort& port = add_port(5);
        port.read_returns_at_once = true;
        SerialGate gate;
        ASSERT_TRUE(gate.Open(5, kDeviceBaud));
        const std::int64_t start = steady_us();
        if (reply) {
            port.input = "\x0A";
            port.input_from_us = start + 30000;
        }
        const int reads_before = port.reads;
        EXPECT_EQ(gate.WaitForInput(50), reply);
        const std::int64_t took_us = steady_us() - start;
        EXPECT_GE(took_us, reply ? 30000 : 50000);
        EXPECT_LE(port.reads - reads_before, 20) << "the wait spun on the driver";
        char byte = 0;
        EXPECT_EQ(gate.Recv(&byte, 1), reply ? 1 : 0);
        EXPECT_FALSE(gate.LineLost());
    }
}

// Send says how many bytes went out: none for a write that timed out
// (usbser.sys until the cable is plugged again) or wrote nothing, the count
// for a short one; the line itself is not lost for it.
TEST_F(ScriptedWindows, SendReportsWhatWentOut) {
    const struct {
        DWORD write_error;
        int write_limit;
        int sent;
    } cases[] = {
        {ERROR_SEM_TIMEOUT, -1, 0}, {ERROR_GEN_FAILURE, -1, 0}, {0, 0, 0}, {0, 1, 1}, {0, -1, 3},
    };
    const std::string clear("\xF0\x01\x00", 3);
    for (const auto& c : cases) {
        ScriptedPort& port = add_port(5);
        port.write_error = c.write_error;
        port.write_limit = c.write_limit;
        SerialGate gate;
        ASSERT_TRUE(gate.Open(5, kDeviceBaud));
        EXPECT_EQ(gate.Send(clear.data(), 3), c.sent) << c.write_error << " " << c.write_limit;
        EXPECT_EQ(port.wire, clear.substr(0, static_cast<std::size_t>(c.sent)));
        EXPECT_FALSE(gate.LineLost());
    }
}

// An adapter pulled out whose driver still answers ClearCommError, while
// reads return nothing and GetCommModemStatus fails, is a lost line, and
// nothing more goes to it. One ClearCommError failure on a healthy line is
// not; two in a row are.
TEST_F(ScriptedWindows, PulledAdapterIsALostLineAndOneStatusHiccupIsNot) {
    const struct {
        bool unplugged;
        int clear_error_failures;
        bool lost;
    } cases[] = {{true, 0, true}, {false, 1, false}, {false, 2, true}};
    for (const auto& c : cases) {
        ScriptedPort& port = add_port(5);
        SerialGate gate;
        ASSERT_TRUE(gate.Open(5, kDeviceBaud));
        port.unplugged = c.unplugged;
        port.clear_error_failures = c.clear_error_failures;
        port.input = "\x0A";
        EXPECT_EQ(gate.WaitForInput(50), !c.lost) << c.unplugged << c.clear_error_failures;
        EXPECT_EQ(gate.LineLost(), c.lost);
        const char sync = static_cast<char>(0xFF);
        EXPECT_EQ(gate.Send(&sync, 1), c.lost ? 0 : 1);
        EXPECT_EQ(port.wire.size(), c.lost ? 0u : 1u);
        port.unplugged = false;
        port.clear_error_failures = 0;
    }
}

// A port that cannot be opened or set up as the device needs is closed at
// once and left exactly as the last program left it, never used at its
// settings; the gate is quiet after it. One that opened gets them back when
// it closes.
TEST_F(ScriptedWindows, RefusedOpenLeavesThePortAsItWas) {
    const struct {
        int port;
        DWORD open_error;
        DWORD set_state_error;
        OpenFailure::Kind kind;
        const char* call;
    } cases[] = {
        {0, 0, 0, OpenFailure::kNoSuchPort, nullptr},
        {256, 0, 0, OpenFailure::kNoSuchPort, nullptr},
        {5, ERROR_ACCESS_DENIED, 0, OpenFailure::kSystem, nullptr},
        {5, 0, ERROR_GEN_FAILURE, OpenFailure::kSettings, "SetCommState"},
    };
    for (const auto& c : cases) {
        ScriptedPort& port = add_port(5);
        port.open_error = c.open_error;
        port.set_state_error = c.set_state_error;
        SerialGate gate;
        EXPECT_FALSE(gate.Open(c.port, kDeviceBaud)) << "COM" << c.port;
        const OpenFailure& failure = gate.LastOpenFailure();
        EXPECT_EQ(failure.kind, c.kind) << "COM" << c.port;
        EXPECT_EQ(failure.error, static_cast<int>(c.open_error + c.set_state_error));
        EXPECT_STREQ(failure.call == nullptr ? "" : failure.call, c.call == nullptr ? "" : c.call);
        char byte = static_cast<char>(0xFF);
        EXPECT_EQ(gate.Send(&byte, 1), 0);
        EXPECT_EQ(gate.Recv(&byte, 1), 0);
        EXPECT_FALSE(gate.WaitForInput(50));
        EXPECT_FALSE(port.open);
        EXPECT_TRUE(port.wire.empty());
        EXPECT_EQ(port.states_set, 0);
    }
    ScriptedPort& port = add_port(5);
    const DCB left = port.state;
    {
        SerialGate gate;
        ASSERT_TRUE(gate.Open(5, kDeviceBaud));
        EXPECT_TRUE(port.state.BaudRate == 9600 && port.state.ByteSize == 8 &&
                    port.state.Parity == NOPARITY && !port.state.fAbortOnError);
    }
    EXPECT_FALSE(port.open);
    EXPECT_EQ(std::memcmp(&port.state, &left, sizeof left), 0) << "the settings were not put back";
}

// An adapter pulled out in the middle of brisko's erase, whose driver still
// answers ClearCommError: the run stops at the next command with the lost
// line's message and status 1, before another dot and without a key prompt.
TEST_F(ScriptedWindows, PulledMidClearStopsBrisko) {
    DeviceEngine device;
    engine_power_on(&device, DeviceKnobs{});
    system_.serial_map = {{"\\Device\\Serial0", "COM5"}};
    ScriptedPort& port = add_port(5);
    port.device = &device;
    port.unplug_after_bytes = 20 + 3 + 4 + 2;  // syncs, questions, a clear and F0 01 of the next
    testing::internal::CaptureStdout();
    const int status = run_brisko();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 1);
    // The whole output ends there: no dot for the clear cut off, no key prompt.
    const std::string end = "found on COM5 ok.\n\nErase.\nError: the line to the device was lost.";
    EXPECT_EQ(out.substr(out.size() < end.size() ? 0 : out.size() - end.size()), end) << out;
    EXPECT_EQ(port.wire.size(), 29u);
    EXPECT_FALSE(port.open);
}

// The ports as Device Manager shows them, taken from the present device
// nodes, not from entries that adapters plugged in earlier left: a stale
// FTDI node claiming COM3 with another latency timer is passed over; a
// Bluetooth port of any stack (hardware ID BTHENUM) is listed but never
// opened; a CH340 that refuses the line settings names the call and the
// system's reason; access denied may be the driver's doing.
TEST_F(ScriptedWindows, PagerPortsNamesPortsAsDeviceManagerDoes) {
    add_port(3);
    add_port(4);
    add_port(5).set_state_error = ERROR_GEN_FAILURE;
    add_port(6).open_error = ERROR_ACCESS_DENIED;
    system_.serial_map = {{"\\Device\\VCP0", "COM3"},
                          {"\\Device\\BtPort7", "COM4"},
                          {"\\Device\\Serial2", "COM5"},
                          {"\\Device\\USBSER000", "COM6"}};
    system_.dos_names = {"COM3", "COM6"};
    system_.nodes = {
        {false, false, L"COM3", L"USB Serial Port (COM3)", L"FTDIBUS\\COMPORT&VID_0403&PID_6015",
         2},
        {true, false, L"COM3", L"USB Serial Port (COM3)", L"FTDIBUS\\COMPORT&VID_0403&PID_6001",
         16},
        {true, false, L"COM4", L"Standard Serial over Bluetooth link (COM4)",
         L"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002", -1},
        {true, false, L"COM5", L"USB-SERIAL CH340 (COM5)", L"USB\\VID_1A86&PID_7523&REV_0264", -1},
        {true, true, L"COM6", L"P\u00e9riph\u00e9rique s\u00e9rie USB (COM6)",
         L"USB\\VID_2E8A&PID_000A&MI_00", -1},
    };
    const Survey survey = survey_ports(PortPaths{}, false);
    const std::string text = survey_text(survey, false, false);
    const std::string lines[] = {
        "PORT\tDEVICE\tNAME\tUSB ID\tSTATE\tOPEN\tHELD BY\tLATENCY\n",
        "COM3\t\\Device\\VCP0\tUSB Serial Port (COM3)\t0403:6001\t1\tyes\t-\t16 ms\n",
        "COM4\t\\Device\\BtPort7\tStandard Serial over Bluetooth link (COM4)\t-\t2 "
        "(Bluetooth)\tnot tried\t-\t-\n",
        "COM5\t\\Device\\Serial2\tUSB-SERIAL CH340 (COM5)\t1a86:7523\t1\tno: would not take 9600 "
        "baud 8N1 (SetCommState: " +
            system_error_text(ERROR_GEN_FAILURE) + ")\t-\t-\n",
        "COM6\t\\Device\\USBSER000\tP\u00e9riph\u00e9rique s\u00e9rie USB "
        "(COM6)\t2e8a:000a\t1\tno: in use "
        "by another program, or refused by its driver\t-\t-\n",
        "- COM6 refused access: close the program that has it open",
        "- COM3 is an FTDI adapter whose latency timer holds each reply up to 16 ms",
    };
    std::size_t at = 0;
    for (const std::string& line : lines) {
        const std::size_t found = text.find(line, at);
        EXPECT_NE(found, std::string::npos) << line << "\nin:\n" << text;
        at = found == std::string::npos ? at : found + line.size();
    }
    EXPECT_EQ(survey.ports.size(), 4u) << text;
    for (const auto& [number, port] : system_.ports) {
        EXPECT_FALSE(port.open) << "COM" << number;
        EXPECT_TRUE(port.wire.empty()) << "COM" << number;
    }
    EXPECT_NE(
        survey_json(survey).find("\"name\": \"P\u00e9riph\u00e9rique s\u00e9rie USB (COM6)\", "
                                 "\"usb_id\": \"2e8a:000a\", \"latency_ms\": null}"),
        std::string::npos)
        << survey_json(survey);
}

// The port list holds each port once, ascending, everything after the count
// zeroed; a Bluetooth port by either sign (the map's \Device\BthModem, a
// node's BTHENUM) gets a state other than 1. A number above 255 is left out
// of the record, not cut to 8 bits, and listed apart.
TEST_F(ScriptedWindows, PortListAscendingBluetoothPassedBy) {
    system_.serial_map = {{"\\Device\\Serial9", "COM201"},
                          {"\\Device\\BthModem3", "COM200"},
                          {"\\Device\\Serial10", "COM300"},
                          {"\\Device\\BtPort1", "COM9"}};
    system_.dos_names = {"COM201", "COM1", "LPT1", "COM44"};
    system_.nodes = {{true, false, L"COM9", L"Bluetooth (COM9)", L"BTHENUM\\{x}_VID&0001", -1}};
    PortInfo info;
    std::memset(info.bytes, 0xAA, sizeof info.bytes);
    fill_port_list(PortPaths{}, &info);
    std::string listed;
    for (int i = 0; i < info.count(); ++i) {
        listed += " COM" + std::to_string(info.port(i)) + ":" + std::to_string(info.state(i));
    }
    EXPECT_EQ(listed, " COM1:1 COM9:2 COM44:1 COM200:2 COM201:1");
    EXPECT_EQ(com_ports_past_list(), std::vector<int>{300});
    for (int i = 2 * info.count(); i < PortInfo::kCountOffset; ++i) {
        EXPECT_EQ(info.bytes[i], 0) << "byte " << i;
    }
}

}  // namespace
