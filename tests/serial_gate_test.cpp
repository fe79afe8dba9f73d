#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "console/process.h"
#include "line_gone_error.h"
#include "low_latency.h"
#include "port_dir.h"
#include "pty_pair.h"
#include "serial_link/serial_gate.h"
#include "test_clock.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kUsb0 = 33;  // ttyUSB0
constexpr int kUsb1 = 34;  // ttyUSB1

Bytes every_byte_value() {
    Bytes bytes(256);
    for (int i = 0; i < 256; ++i) {
        bytes[i] = static_cast<unsigned char>(i);
    }
    return bytes;
}

int open_fd_count() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

// Reads from `fd` until `count` bytes came or nothing more came for a second.
Bytes read_from(int fd, size_t count) {
    Bytes got;
    unsigned char chunk[512];
    while (got.size() < count) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 1000) <= 0) {
            break;
        }
        ssize_t n = read(fd, chunk, std::min(sizeof(chunk), count - got.size()));
        if (n <= 0) {
            break;
        }
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

bool readable(int fd, int timeout_ms) {
    pollfd pfd{fd, POLLIN, 0};
    return poll(&pfd, 1, timeout_ms) == 1;
}

// Receives through `gate` until `count` bytes came or Recv came back empty
// many times over.
Bytes recv_from(SerialGate& gate, size_t count) {
    Bytes got;
    for (int empty = 0; got.size() < count && empty < 30;) {
        char chunk[64];
        int n = gate.Recv(chunk, sizeof(chunk));
        empty = n == 0 ? empty + 1 : 0;
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

// A canonical, echoing, character-mapping line with software flow control,
// as a terminal program might leave a port.
void make_cooked(int fd) {
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    tio.c_iflag = BRKINT | ICRNL | INLCR | IXON | IXANY | ISTRIP | INPCK | PARMRK | IMAXBEL;
    tio.c_oflag = OPOST | ONLCR | OCRNL;
    tio.c_lflag = ISIG | ICANON | IEXTEN | ECHO | ECHOE | ECHOK | ECHOCTL | ECHOKE;
    tio.c_cflag = CS7 | PARENB | CREAD | HUPCL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 5;
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
}

int exclusive_flag(int fd) {
    int flag = -1;
    ioctl(fd, TIOCGEXCL, &flag);
    return flag;
}

// A pseudo-terminal reachable as ttyUSB0 (port 33) in a private /dev.
struct GateLine : testing::Test {
    PtyPair pty;
    PortDir dir;

    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        dir.link("ttyUSB0", pty.slave_path);
    }
};

// A serial driver's flags as TIOCGSERIAL and TIOCSSERIAL reach them, put in
// place of the pty's (which has no such requests) while a test runs.
struct FakeDriver {
    int flags = 0;
    int refuse_get = 0;  // errno for TIOCGSERIAL; 0 answers
    int refuse_set = 0;  // errno for TIOCSSERIAL; 0 takes the flags
};
FakeDriver fake_driver;

int fake_serial_ioctl(int, unsigned long request, void* arg) {
    auto* serial = static_cast<serial_struct*>(arg);
    const int refused = request == TIOCGSERIAL ? fake_driver.refuse_get : fake_driver.refuse_set;
    if (refused != 0) {
        errno = refused;
        return -1;
    }
    if (request == TIOCGSERIAL) {
        *serial = serial_struct{};
        serial->flags = fake_driver.flags;
    } else {
        fake_driver.flags = serial->flags;
    }
    return 0;
}

struct GateOnFakeDriver : GateLine {
    void SetUp() override {
        GateLine::SetUp();
        serial_ioctl = fake_serial_ioctl;
    }
    void TearDown() override { serial_ioctl = system_serial_ioctl; }
    SerialIoctl system_serial_ioctl = serial_ioctl;
};

// While the port is open its driver hands bytes over at once; Close puts
// the driver's flags back as they were. A driver that refuses the flag, has
// no such request or has it set already is left exactly as it was, and the
// port opens all the same.
TEST_F(GateOnFakeDriver, LowLatencyWhileOpenAndTheFlagsAsFoundAfter) {
    const int odd = ASYNC_SPD_HI | ASYNC_SKIP_TEST | ASYNC_HUP_NOTIFY;
    const struct {
        const char* what;
        FakeDriver driver;
        int while_open;
    } drivers[] = {
        {"takes it", {odd, 0, 0}, odd | ASYNC_LOW_LATENCY},
        {"has it already", {odd | ASYNC_LOW_LATENCY, 0, 0}, odd | ASYNC_LOW_LATENCY},
        {"no such request", {odd, ENOTTY, ENOTTY}, odd},
        {"refuses it", {odd, 0, EINVAL}, odd},
        {"not allowed", {odd, 0, EPERM}, odd},
    };
    for (const auto& d : drivers) {
        SCOPED_TRACE(d.what);
        fake_driver = d.driver;
        SerialGateAt gate(dir.paths());
        ASSERT_TRUE(gate.Open(kUsb0, 9600));
        EXPECT_EQ(fake_driver.flags, d.while_open);
        gate.Close();
        EXPECT_EQ(fake_driver.flags, d.driver.flags);
    }
}

TEST_F(GateLine, EveryByteValuePassesUnchangedBothWays) {
    const Bytes all = every_byte_value();
    for (bool cooked_before : {false, true}) {
        SCOPED_TRACE(cooked_before ? "port left cooked" : "port left raw");
        if (cooked_before) {
            make_cooked(pty.slave);
        }
        SerialGateAt gate(dir.paths());
        ASSERT_TRUE(gate.Open(kUsb0, 9600));

        ASSERT_EQ(write(pty.master, all.data(), all.size()), 256);
        EXPECT_EQ(recv_from(gate, 256), all);
        EXPECT_FALSE(readable(pty.master, 50)) << "input was echoed back";

        EXPECT_EQ(gate.Send(reinterpret_cast<const char*>(all.data()), 256), 256);
        EXPECT_EQ(read_from(pty.master, 256), all);
        gate.Close();
    }
}

TEST_F(GateLine, CloseRestoresTheEarlierSettings) {
    make_cooked(pty.slave);
    termios before{};
    ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
    {
        SerialGateAt gate(dir.paths());
        ASSERT_TRUE(gate.Open(kUsb0, 9600));
        termios during{};
        ASSERT_EQ(tcgetattr(pty.slave, &during), 0);
        EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG), 0u);
        // Carrier ignored, receiver on: a moving carrier line must not end the run.
        EXPECT_EQ(during.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(cfgetospeed(&during), static_cast<speed_t>(B9600));
        EXPECT_EQ(exclusive_flag(pty.slave), 1);
        // The destructor closes the port as Close would.
    }
    termios after{};
    ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetispeed(&after), cfgetispeed(&before));
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    for (int i = 0; i < NCCS; ++i) {
        EXPECT_EQ(after.c_cc[i], before.c_cc[i]) << "c_cc[" << i << "]";
    }
    EXPECT_EQ(exclusive_flag(pty.slave), 0);
}

// Recv takes what has come and never waits; WaitForInput waits, asleep, up
// to its time for a byte and returns the moment one comes.
TEST_F(GateLine, WaitForInputSleepsUntilAByteComesOrItsTimeIsUp) {
    SerialGateAt gate(dir.paths());
    ASSERT_TRUE(gate.Open(kUsb0, 9600));
    char byte = 0;
    EXPECT_EQ(gate.Recv(&byte, 1), 0);
    const double cpu_start = thread_cpu_ms();
    const auto start = Clock::now();
    EXPECT_FALSE(gate.WaitForInput(200));
    const double took = ms_since(start);
    EXPECT_GE(took, 200.0);
    EXPECT_LT(thread_cpu_ms() - cpu_start, took / 2);
    EXPECT_FALSE(gate.LineLost());

    for (unsigned char value : {0x0A, 0x0D, 0xFF}) {
        ASSERT_EQ(write(pty.master, &value, 1), 1);
        ASSERT_TRUE(readable(pty.slave, 1000));
        EXPECT_TRUE(gate.WaitForInput(0));
        ASSERT_EQ(gate.Recv(&byte, 1), 1);
        EXPECT_EQ(static_cast<unsigned char>(byte), value);
    }

    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const unsigned char value = 0x42;
        (void)!write(pty.master, &value, 1);
    });
    EXPECT_TRUE(gate.WaitForInput(5000));
    late.join();
    EXPECT_EQ(gate.Recv(&byte, 1), 1);
    EXPECT_EQ(byte, 0x42);
}

// The far end closing (a pty master) and the kernel hanging the line up (a
// USB adapter pulled out) both end the line: the gate reports it lost, and
// nothing it does then waits or fails loudly. A read or write error means
// the same only when the device has gone.
TEST(SerialGate, AHungUpLineIsReportedLost) {
    for (const int error : {EIO, ENXIO, ENODEV}) {
        EXPECT_TRUE(line_gone_error(error)) << std::strerror(error);
    }
    for (const int error : {EAGAIN, EINTR, EBADF, EINVAL}) {
        EXPECT_FALSE(line_gone_error(error)) << std::strerror(error);
    }
    for (bool kernel_hangup : {false, true}) {
        SCOPED_TRACE(kernel_hangup ? "hung up by the kernel" : "far end closed");
        PtyPair pty;
        ASSERT_TRUE(pty.ok());
        PortDir dir;
        dir.link("ttyUSB0", pty.slave_path);
        SerialGateAt gate(dir.paths());
        ASSERT_TRUE(gate.Open(kUsb0, 9600));
        if (kernel_hangup) {
            if (ioctl(pty.slave, TIOCVHANGUP) != 0) {
                GTEST_SKIP() << "hanging up a line needs CAP_SYS_ADMIN";
            }
        } else {
            close(pty.master);
            pty.master = -1;
        }

        char byte = 0;
        EXPECT_EQ(gate.Recv(&byte, 1), 0);
        EXPECT_TRUE(gate.LineLost());
        const auto start = Clock::now();
        EXPECT_FALSE(gate.WaitForInput(5000));
        EXPECT_EQ(gate.Send("x", 1), 0);
        gate.Close();
        EXPECT_FALSE(gate.LineLost());
        EXPECT_LT(ms_since(start), 2000.0);
    }
}

// A buffer larger than the line holds goes out whole while the far end reads,
// and Send gives up with what went when the far end stops reading.
TEST_F(GateLine, SendWaitsForRoomButNotForever) {
    Bytes big(1 << 18);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<unsigned char>(i * 7 + i / 256);
    }
    const char* data = reinterpret_cast<const char*>(big.data());
    const int length = static_cast<int>(big.size());
    SerialGateAt gate(dir.paths());
    ASSERT_TRUE(gate.Open(kUsb0, 9600));

    Bytes got;
    std::thread reader([&] { got = read_from(pty.master, big.size()); });
    EXPECT_EQ(gate.Send(data, length), length);
    reader.join();
    EXPECT_TRUE(got == big) << "received " << got.size() << " bytes, not the same";

    const auto start = Clock::now();
    const int sent = gate.Send(data, length);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, length);
    EXPECT_LT(ms_since(start), 5000.0);
}

// What another program can do behind an open port: change its settings
// (as stty, root passing by the exclusive mode), keep it open (a process
// that shares the descriptor), or stop its output (tcflow, a flow-control
// stop). The gate tells each, and a byte the line does not take costs at
// most its bound, less when the run is interrupted.
TEST_F(GateLine, WhatAnotherProgramDoesBehindTheOpenPortIsTold) {
    SerialGateAt gate(dir.paths());
    ASSERT_TRUE(gate.Open(kUsb0, 9600));
    EXPECT_TRUE(gate.SettingsIntact());
    EXPECT_TRUE(gate.OtherHolders().empty());
    termios sane{};
    ASSERT_EQ(tcgetattr(pty.slave, &sane), 0);
    sane.c_oflag |= OPOST | ONLCR;
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &sane), 0);
    EXPECT_FALSE(gate.SettingsIntact());

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t sharer = fork();
    if (sharer == 0) {
        close(pty.master);  // not the far end: holds the port through pty.slave
        if (write(ready[1], "x", 1) == 1) {
            pause();
        }
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    const std::vector<PortHolder> holders = gate.OtherHolders();
    kill(sharer, SIGKILL);
    waitpid(sharer, nullptr, 0);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, sharer);

    ASSERT_EQ(tcflow(pty.slave, TCOOFF), 0);
    auto start = Clock::now();
    EXPECT_EQ(gate.Send("A", 1), 0);
    EXPECT_LT(ms_since(start), 5000.0);
    const pid_t interrupted = fork();
    if (interrupted == 0) {
        std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            request_interrupt(SIGINT);
        }).detach();
        start = Clock::now();
        const int sent = gate.Send("A", 1);
        _exit(sent == 0 && ms_since(start) < 900.0 ? 0 : 1);
    }
    int status = -1;
    waitpid(interrupted, &status, 0);
    EXPECT_EQ(status, 0) << "the wait for a stopped line outlived the interruption";
    tcflow(pty.slave, TCOON);
}

TEST_F(GateLine, OpenDropsWhatCameBefore) {
    SerialGateAt gate(dir.paths());
    ASSERT_EQ(write(pty.master, "before", 6), 6);
    ASSERT_TRUE(readable(pty.slave, 1000));
    ASSERT_TRUE(gate.Open(kUsb0, 9600));
    char byte = 0;
    EXPECT_EQ(gate.Recv(&byte, 1), 0) << "a byte from before Open";

    ASSERT_EQ(write(pty.master, "N", 1), 1);
    EXPECT_EQ(recv_from(gate, 1), Bytes{'N'});
    EXPECT_EQ(gate.Recv(&byte, 1), 0);
}

TEST_F(GateLine, APortIsHeldByOneGateAtATime) {
    SerialGateAt first(dir.paths());
    SerialGateAt second(dir.paths());
    ASSERT_TRUE(first.Open(kUsb0, 9600));
    EXPECT_FALSE(second.Open(kUsb0, 9600));
    EXPECT_EQ(exclusive_flag(pty.slave), 1) << "the failed Open released the holder's claim";

    // The holder is unaffected.
    ASSERT_EQ(first.Send("A", 1), 1);
    EXPECT_EQ(read_from(pty.master, 1), Bytes{'A'});

    // Opening the same port again on the holder reopens it.
    EXPECT_TRUE(first.Open(kUsb0, 9600));
    // Opening another port lets the first one go.
    PtyPair other;
    ASSERT_TRUE(other.ok());
    dir.link("ttyUSB1", other.slave_path);
    ASSERT_TRUE(first.Open(kUsb1, 9600));
    EXPECT_TRUE(second.Open(kUsb0, 9600));
}

TEST_F(GateLine, ALineAnotherProgramHoldsIsRefused) {
    ASSERT_EQ(ioctl(pty.slave, TIOCEXCL), 0);
    SerialGateAt gate(dir.paths());
    EXPECT_FALSE(gate.Open(kUsb0, 9600));
    EXPECT_EQ(exclusive_flag(pty.slave), 1);
    ASSERT_EQ(ioctl(pty.slave, TIOCNXCL), 0);

    // A program that locks its port, without exclusive mode.
    const int holder = open(pty.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(gate.Open(kUsb0, 9600));
    close(holder);
    EXPECT_TRUE(gate.Open(kUsb0, 9600));
    gate.Close();

    // The console, whatever terminal the program runs in.
    dir.link("ttyUSB1", "/dev/console");
    EXPECT_FALSE(gate.Open(kUsb1, 9600));
    EXPECT_EQ(gate.LastOpenFailure().kind, OpenFailure::kConsole);

    // The terminal the program runs in: the sync bytes would land on the screen.
    const pid_t child = fork();
    if (child == 0) {
        dup2(pty.slave, STDIN_FILENO);
        SerialGateAt own(dir.paths());
        _exit(!own.Open(kUsb0, 9600) && own.LastOpenFailure().kind == OpenFailure::kConsole ? 0
                                                                                            : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0) << "the program's own terminal was opened as a port";
}

std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string hdb_lock(int pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", pid);
    return text;
}

// The PID of a process that has ended.
int ended_pid() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

TEST_F(GateLine, UucpLockFiles) {
    const std::filesystem::path lock = dir.lock("ttyUSB0");
    // ttyUSB0 is a link to the pty's slave: the lock under the name it leads to counts too.
    const std::filesystem::path target_lock =
        dir.lock(std::filesystem::path(pty.slave_path).filename().string());
    SerialGateAt gate(dir.paths());
    {
        SCOPED_TRACE("none: made under both names while the port is held, removed on Close");
        ASSERT_TRUE(gate.Open(kUsb0, 9600));
        EXPECT_EQ(read_text(lock), hdb_lock(getpid()));
        EXPECT_EQ(read_text(target_lock), hdb_lock(getpid()));
        gate.Close();
        EXPECT_FALSE(std::filesystem::exists(lock));
        EXPECT_FALSE(std::filesystem::exists(target_lock));
    }
    const pid_t digit_pid = child_with_digit_pid();
    ASSERT_GT(digit_pid, 0);
    const pid_t zombie = fork();
    if (zombie == 0) {
        _exit(0);
    }
    // Until it has ended, it is not a zombie yet: wait, leaving it unreaped.
    siginfo_t ended{};
    waitid(P_PID, static_cast<id_t>(zombie), &ended, WEXITED | WNOWAIT);
    const struct {
        const char* what;
        std::filesystem::path path;
        std::string text;
        bool refused;
    } locks[] = {
        {"a running process's", lock, hdb_lock(getppid()), true},
        {"a running process's on the name the link leads to", target_lock, hdb_lock(getppid()),
         true},
        {"a running process's in the 4-byte binary form, led by a digit", lock,
         std::string(reinterpret_cast<const char*>(&digit_pid), 4), true},
        {"an ended process's", lock, hdb_lock(ended_pid()), false},
        {"a zombie's", lock, hdb_lock(zombie), false},
        {"a running process's PID with junk after it", lock, std::to_string(getppid()) + "x\n",
         false},
        {"this process's own", lock, hdb_lock(getpid()), false},
    };
    for (const auto& held : locks) {
        SCOPED_TRACE(held.what);
        std::ofstream(held.path, std::ios::binary) << held.text;
        EXPECT_EQ(gate.Open(kUsb0, 9600), !held.refused);
        if (held.refused) {
            EXPECT_EQ(gate.LastOpenFailure().kind, OpenFailure::kLockFile);
            EXPECT_EQ(exclusive_flag(pty.slave), 0) << "the port was opened";
            EXPECT_FALSE(std::filesystem::exists(held.path == lock ? target_lock : lock));
        }
        gate.Close();
        EXPECT_EQ(read_text(held.path), held.text) << "another's lock file was touched";
        std::filesystem::remove(held.path);
    }
    kill(digit_pid, SIGKILL);
    waitpid(digit_pid, nullptr, 0);
    waitpid(zombie, nullptr, 0);
    {
        SCOPED_TRACE("a FIFO in its place neither blocks nor is written to");
        ASSERT_EQ(mkfifo(lock.c_str(), 0644), 0);
        const int reader = open(lock.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        ASSERT_TRUE(gate.Open(kUsb0, 9600));
        gate.Close();
        char byte = 0;
        EXPECT_LE(read(reader, &byte, 1), 0) << "the FIFO was written to";
        close(reader);
        std::filesystem::remove(lock);
    }
    {
        SCOPED_TRACE("a link planted in its place is neither followed nor removed");
        const std::filesystem::path target = dir.dev("..") / "planted";
        std::filesystem::create_symlink(target, lock);
        ASSERT_TRUE(gate.Open(kUsb0, 9600));
        gate.Close();
        EXPECT_FALSE(std::filesystem::exists(target));
        std::ofstream(target) << hdb_lock(getppid());
        ASSERT_TRUE(gate.Open(kUsb0, 9600));
        gate.Close();
        EXPECT_EQ(read_text(target), hdb_lock(getppid()));
        EXPECT_TRUE(std::filesystem::is_symlink(lock));
        std::filesystem::remove(lock);
    }
    {
        SCOPED_TRACE("another program's lock put in place of ours stays");
        ASSERT_TRUE(gate.Open(kUsb0, 9600));
        const std::filesystem::path theirs = dir.lock("theirs");
        std::ofstream(theirs) << hdb_lock(getppid());
        std::filesystem::rename(theirs, lock);
        gate.Close();
        EXPECT_EQ(read_text(lock), hdb_lock(getppid()));
        std::filesystem::remove(lock);
    }
    {
        SCOPED_TRACE("no lock directory: the port is used all the same");
        std::filesystem::remove(dir.lock("").parent_path());
        EXPECT_TRUE(gate.Open(kUsb0, 9600));
    }
}

// Every way Open can fail leaves the gate quiet, the line untouched and no
// descriptor behind; an earlier port is closed all the same.
TEST_F(GateLine, FailedOpenStaysQuietAndLeaksNothing) {
    dir.link("ttyUSB1", "/dev/null");  // a character device, but no terminal
    std::ofstream(dir.dev("ttyUSB2")) << "plain file";
    const struct {
        const char* what;
        int port;
        int baud;
    } cases[] = {
        {"not a terminal", kUsb1, 9600},     {"plain file", 35, 9600},
        {"missing device", 36, 9600},        {"port 0", 0, 9600},
        {"negative port", -1, 9600},         {"past the last family", 129, 9600},
        {"unknown baud rate", kUsb0, 12345}, {"zero baud rate", kUsb0, 0},
    };
    termios line_before{};
    ASSERT_EQ(tcgetattr(pty.slave, &line_before), 0);
    SerialGateAt holder(dir.paths());

    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SerialGateAt gate(dir.paths());
        ASSERT_TRUE(gate.Open(kUsb0, 9600));
        const int fds_before = open_fd_count() - 1;  // the port gate held

        EXPECT_FALSE(gate.Open(c.port, c.baud));
        EXPECT_EQ(gate.Send("x", 1), 0);
        char byte = 0;
        const auto start = Clock::now();
        EXPECT_EQ(gate.Recv(&byte, 1), 0);
        EXPECT_LT(ms_since(start), 20.0) << "a closed gate waited in Recv";
        gate.Close();
        EXPECT_EQ(open_fd_count(), fds_before);

        termios line_after{};
        ASSERT_EQ(tcgetattr(pty.slave, &line_after), 0);
        EXPECT_EQ(line_after.c_lflag, line_before.c_lflag);
        EXPECT_EQ(exclusive_flag(pty.slave), 0);
        ASSERT_TRUE(holder.Open(kUsb0, 9600)) << "the port stayed locked";
        holder.Close();
    }
    EXPECT_FALSE(readable(pty.master, 0)) << "a failed Open wrote to the line";
}

}  // namespace
