#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "port_dir.h"
#include "port_list.h"
#include "pty_pair.h"
#include "serial_link/serial_gate.h"

namespace {

namespace fs = std::filesystem;
using Entries = std::vector<std::pair<int, int>>;  // port number, state byte

Entries entries_of(const PortInfo& info) {
    Entries out;
    for (int i = 0; i < info.count(); ++i) {
        out.emplace_back(info.port(i), info.state(i));
    }
    return out;
}

// Lists the ports of `paths`, starting from a record full of junk.
PortInfo list_ports(const PortPaths& paths) {
    PortInfo info;
    std::memset(info.bytes, 0xA5, sizeof(info.bytes));
    fill_port_list(paths, &info);
    return info;
}

void expect_unused_bytes_zero(const PortInfo& info) {
    for (int i = 2 * info.count(); i < 512; ++i) {
        if (i != PortInfo::kCountOffset) {
            ASSERT_EQ(info.bytes[i], 0) << "byte " << i;
        }
    }
}

TEST(PortList, NumbersEveryFamilyInAscendingOrder) {
    PortDir dir;
    // Made out of order, with names outside the families around them.
    for (const char* name :
         {"ttyAMA31", "ttyS31", "ttyUSB0", "ttyACM31", "ttyS0", "ttyAMA0", "ttyACM0", "ttyUSB31",
          "ttyS32", "ttyUSB32", "ttyUSB00", "tty0", "ttyACM", "console"}) {
        dir.link(name, "/dev/null");
    }
    dir.uart_type("ttyS0", "4");
    dir.uart_type("ttyS31", "4");

    SerialGateAt gate(dir.paths());
    PortInfo info;
    std::memset(info.bytes, 0xA5, sizeof(info.bytes));
    gate.GetPortsInfo(&info);

    const Entries expected = {{1, 1},  {32, 1}, {33, 1}, {64, 1},
                              {65, 1}, {96, 1}, {97, 1}, {128, 1}};
    EXPECT_EQ(entries_of(info), expected);
    expect_unused_bytes_zero(info);
}

TEST(PortList, CountsWhatStatFindsToBeACharacterDevice) {
    PortDir dir;
    std::ofstream(dir.dev("ttyUSB1")) << "not a device";
    fs::create_directory(dir.dev("ttyUSB2"));
    dir.link("ttyUSB3", (dir.dev("") / "nowhere").string());
    dir.link("ttyUSB4", dir.dev("ttyUSB2").string());  // to a directory
    dir.link("ttyUSB5", dir.dev("ttyUSB1").string());  // to a plain file
    dir.link("ttyUSB6", "/dev/null");
    dir.link("ttyUSB7", dir.dev("ttyUSB6").string());  // a chain of links

    const PortInfo info = list_ports(dir.paths());
    EXPECT_EQ(entries_of(info), (Entries{{39, 1}, {40, 1}}));
    expect_unused_bytes_zero(info);
}

TEST(PortList, LegacyUartNeedsTheKernelToReportOne) {
    PortDir dir;
    for (const char* name :
         {"ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyS4", "ttyS5", "ttyUSB0", "ttyACM0", "ttyAMA0"}) {
        dir.link(name, "/dev/null");
    }
    const fs::path sys = dir.paths().sys_tty_dir;
    dir.uart_type("ttyS0", "4");          // a 16550A
    dir.uart_type("ttyS1", "0");          // PORT_UNKNOWN: no UART behind the node
    fs::create_directory(sys / "ttyS2");  // no type file at all
    // ttyS3 has no sysfs entry.
    dir.uart_type("ttyS4", "garbage");
    dir.uart_type("ttyS5", " 17");

    const PortInfo info = list_ports(dir.paths());
    const Entries expected = {{1, 1}, {2, 0},  {3, 0},  {4, 0}, {5, 0},
                              {6, 1}, {33, 1}, {65, 1}, {97, 1}};
    EXPECT_EQ(entries_of(info), expected);
}

TEST(PortList, NoPortsGivesAnEmptyZeroedRecord) {
    PortDir dir;
    PortPaths missing = dir.paths();
    missing.dev_dir += "/absent";
    for (const PortPaths& paths : {dir.paths(), missing}) {
        SCOPED_TRACE(paths.dev_dir);
        const PortInfo info = list_ports(paths);
        EXPECT_EQ(info.count(), 0);
        expect_unused_bytes_zero(info);
    }
}

// The record takes 255 entries and no more, and a null record is ignored.
TEST(PortList, RecordHoldsAtMost255Entries) {
    PortInfo info;
    std::memset(info.bytes, 0xA5, sizeof(info.bytes));
    info.clear();
    for (int i = 0; i < PortInfo::kMaxEntries; ++i) {
        ASSERT_TRUE(info.append(i + 1, i % 2));
    }
    EXPECT_FALSE(info.append(7, 1));
    EXPECT_EQ(info.count(), PortInfo::kMaxEntries);
    EXPECT_EQ(info.port(254), 255);
    EXPECT_EQ(info.state(254), 0);
    EXPECT_EQ(info.bytes[511], 0);

    SerialGate gate;
    gate.GetPortsInfo(nullptr);
}

// Device nodes made by mknod, and nodes bind-mounted over plain files (as
// container runtimes hand devices in), are found although their directory
// entries do not say "character device". Needs root; the mounts happen in a
// private mount namespace of a child process, so nothing outlives the test.
TEST(PortList, DeviceNodesAndBindMountsCount) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PortDir dir;
    std::ofstream(dir.dev("ttyACM2")).put('\0');
    std::ofstream(dir.dev("ttyS7")).put('\0');
    dir.uart_type("ttyS7", "4");

    int result[2];
    ASSERT_EQ(pipe(result), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(result[0]);
        PortInfo info{};
        const bool mounted =
            unshare(CLONE_NEWNS) == 0 &&
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            mount(pty.slave_path.c_str(), dir.dev("ttyACM2").c_str(), nullptr, MS_BIND, nullptr) ==
                0 &&
            mount("/dev/null", dir.dev("ttyS7").c_str(), nullptr, MS_BIND, nullptr) == 0 &&
            mknod(dir.dev("ttyUSB4").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
        if (mounted) {
            fill_port_list(dir.paths(), &info);
        }
        const bool sent = write(result[1], &mounted, 1) == 1 &&
                          write(result[1], info.bytes, sizeof(info.bytes)) ==
                              static_cast<ssize_t>(sizeof(info.bytes));
        _exit(sent ? 0 : 1);
    }
    close(result[1]);
    bool mounted = false;
    PortInfo info{};
    const bool got =
        read(result[0], &mounted, 1) == 1 &&
        read(result[0], info.bytes, sizeof(info.bytes)) == static_cast<ssize_t>(sizeof(info.bytes));
    close(result[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(got && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (!mounted) {
        GTEST_SKIP() << "needs root with mount and mknod rights (CAP_SYS_ADMIN, CAP_MKNOD)";
    }
    EXPECT_EQ(entries_of(info), (Entries{{8, 1}, {37, 1}, {67, 1}}));
}

}  // namespace

namespace {

// --port: a number keeps that port of the list; a device path is followed to
// its device, which is the list's port of that device or else port 0 alone.
TEST(PortList, AChosenPortNarrowsTheListByNumberOrByDevice) {
    PortDir dir;
    PtyPair first;
    PtyPair second;
    PtyPair elsewhere;
    ASSERT_TRUE(first.ok() && second.ok() && elsewhere.ok());
    dir.link("ttyS0", "/dev/null");  // no UART reported: listed with state 0
    dir.link("ttyUSB0", first.slave_path);
    dir.link("ttyUSB1", second.slave_path);
    fs::create_directories(dir.dev("serial/by-id"));
    dir.link("serial/by-id/usb-FTDI_A1-if00-port0", "../../ttyUSB1");
    const struct {
        PortChoice choice;
        Entries listed;
    } cases[] = {
        {{-1, ""}, {{1, 0}, {33, 1}, {34, 1}}},
        {{34, ""}, {{34, 1}}},
        {{1, ""}, {{1, 0}}},
        {{5, ""}, {}},
        {{-1, dir.dev("serial/by-id/usb-FTDI_A1-if00-port0").string()}, {{34, 1}}},
        {{-1, second.slave_path}, {{34, 1}}},
        {{-1, elsewhere.slave_path}, {{0, 1}}},
        {{-1, dir.dev("ttyUSB9").string()}, {{0, 1}}},
    };
    SerialGateAt gate(dir.paths());
    for (const auto& c : cases) {
        gate.ChoosePort(c.choice);
        PortInfo info;
        gate.GetPortsInfo(&info);
        EXPECT_EQ(entries_of(info), c.listed) << c.choice.port << " " << c.choice.device;
    }
    // The device outside the list opens by its own path; one that is not
    // there does not open.
    gate.ChoosePort({-1, elsewhere.slave_path});
    EXPECT_TRUE(gate.Open(0, kDeviceBaud));
    EXPECT_EQ(gate.Identify(0), elsewhere.slave_path);
    gate.ChoosePort({-1, dir.dev("ttyUSB9").string()});
    EXPECT_FALSE(gate.Open(0, kDeviceBaud));
    EXPECT_EQ(gate.LastOpenFailure().kind, OpenFailure::kSystem);
}

}  // namespace
