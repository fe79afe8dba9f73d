// SerialGate over POSIX terminal devices: Open, Close, Send, Recv,
// WaitForInput and LineLost. The port list gives the device path of each port number.
//
// The port is opened non-blocking and every wait is a poll() bounded by a
// deadline on the steady clock, so no call can hang on a silent, wedged or
// vanished device.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "console/deadline.h"
#include "console/process.h"
#include "line_gone_error.h"
#include "low_latency.h"
#include "other_users.h"
#include "port_list.h"
#include "port_lock.h"
#include "serial_link/serial_gate.h"

// Open notes each step here as it takes it, and the destructor undoes the
// steps taken, in reverse: a failed Open only has to let its Port go.
struct SerialGate::Port {
    PortLock lock;  // declared first, so released after the port is closed
    int fd = -1;
    bool flocked = false;           // flock(LOCK_EX) taken
    bool exclusive = false;         // TIOCEXCL set
    bool settings_changed = false;  // `saved` goes back
    termios saved{};                // the settings found at Open
    termios set{};                  // the settings Open put, as read back
    std::string path;               // the device's name, for a fresh look at its holders
    LowLatency latency;             // the driver's flags as found
    int baud = 0;
    bool lost = false;  // the system reported the line gone

    Port() = default;
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    ~Port();
};

SerialGate::Port::~Port() {
    if (fd < 0) {
        return;
    }
    low_latency_off(fd, latency);
    if (settings_changed) {
        tcsetattr(fd, TCSANOW, &saved);
    }
    if (exclusive) {
        ioctl(fd, TIOCNXCL);
    }
    if (flocked) {
        flock(fd, LOCK_UN);
    }
    // close() is not retried: on Linux the descriptor is gone even on EINTR.
    close(fd);
}

void SerialGate::PortDeleter::operator()(Port* port) const {
    delete port;
}

namespace {

using Clock = std::chrono::steady_clock;

// Longest time Close waits for queued output to leave, whatever the queue.
constexpr int kDrainCapMs = 1000;
// How long Send waits for the line to take more bytes before it gives up,
// in slices of kStallSliceMs after each of which an interruption ends it.
constexpr int kStallMs = 1000;
constexpr int kStallSliceMs = 50;
// Reads Open makes at most to empty the line, so a flooding line cannot keep
// it busy.
constexpr int kDiscardReads = 64;

// The device speaks at kDeviceBaud only.
bool speed_for(int baud, speed_t* speed) {
    if (baud != kDeviceBaud) {
        return false;
    }
    *speed = B9600;
    return true;
}

// True when poll reports the line hung up or failed, without waiting.
bool hung_up(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&pfd, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Milliseconds the line needs for `bytes` bytes at `baud` (10 bits a byte).
std::int64_t line_time_ms(std::int64_t bytes, int baud) {
    return baud > 0 ? (bytes * 10 * 1000 + baud - 1) / baud : 0;
}

// Case mapping flags that Linux still has and other systems have dropped: they
// must be off where they exist.
#ifdef IUCLC
constexpr tcflag_t kInputCaseMapping = IUCLC;
#else
constexpr tcflag_t kInputCaseMapping = 0;
#endif
#ifdef OLCUC
constexpr tcflag_t kOutputCaseMapping = OLCUC;
#else
constexpr tcflag_t kOutputCaseMapping = 0;
#endif
#ifdef XCASE
constexpr tcflag_t kCanonicalCaseMapping = XCASE;
#else
constexpr tcflag_t kCanonicalCaseMapping = 0;
#endif

// Raw 8N1 at `speed` on top of `tio`: every byte passes unchanged both ways,
// with no echo, signals, line editing, flow control or character mapping.
// Breaks and bytes with framing errors are dropped rather than delivered as
// NUL, since a NUL is a valid reply from the device.
void make_raw(termios* tio, speed_t speed) {
    tio->c_iflag &=
        ~static_cast<tcflag_t>(BRKINT | PARMRK | ISTRIP | INPCK | INLCR | IGNCR | ICRNL |
                               kInputCaseMapping | IXON | IXOFF | IXANY | IMAXBEL);
    tio->c_iflag |= IGNBRK | IGNPAR;
    tio->c_oflag &=
        ~static_cast<tcflag_t>(OPOST | kOutputCaseMapping | ONLCR | OCRNL | ONOCR | ONLRET);
    tio->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE |
                                           ICANON | ISIG | IEXTEN | kCanonicalCaseMapping | TOSTOP);
    tio->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio->c_cflag |= CS8 | CLOCAL | CREAD;
    tio->c_cc[VMIN] = 0;
    tio->c_cc[VTIME] = 0;
    cfsetispeed(tio, speed);
    cfsetospeed(tio, speed);
}

// True when the settings read back from the driver are the raw ones asked
// for. tcsetattr succeeds when any part of a change was taken.
bool took_raw(const termios& got, speed_t speed) {
    return (got.c_cflag & CSIZE) == CS8 && (got.c_cflag & (PARENB | CRTSCTS)) == 0 &&
           (got.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (got.c_oflag & OPOST) == 0 &&
           (got.c_iflag & (ISTRIP | ICRNL | IXON)) == 0 && cfgetispeed(&got) == speed &&
           cfgetospeed(&got) == speed;
}

// True when some other program holds the line exclusively. Root opens such a
// port despite TIOCEXCL, so the flag is checked as well.
#ifdef TIOCGEXCL
bool held_elsewhere(int fd) {
    int exclusive = 0;
    return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}
#else
bool held_elsewhere(int) {
    return false;
}
#endif

int open_retrying(const std::string& path) {
    int fd;
    do {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reads away whatever input is waiting, without waiting for more.
void read_away(int fd) {
    char scrap[256];
    for (int i = 0; i < kDiscardReads; ++i) {
        ssize_t n = read(fd, scrap, sizeof(scrap));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
    }
}

// Waits, up to a bound that fits the queue, for the output the driver still
// holds to go out. tcdrain() would wait without bound on a wedged line; a
// pseudo-terminal reports an empty queue at once.
void drain_bounded(int fd, int baud) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
        return;
    }
    std::int64_t bound = line_time_ms(queued, baud) + 50;
    auto deadline =
        Clock::now() + std::chrono::milliseconds(bound < kDrainCapMs ? bound : kDrainCapMs);
    while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

bool line_gone_error(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

bool SerialGate::Open(int port, int baud) {
    Close();
    open_failure_ = OpenFailure{};
    const std::string path = port_device_path(*paths_, port);
    speed_t speed = 0;
    if (path.empty() || !speed_for(baud, &speed)) {
        open_failure_.kind = OpenFailure::kNoSuchPort;
        return false;
    }
    if (!free_of_other_users(path, &open_failure_)) {
        return false;  // another program has it open, or it is the user's terminal
    }
    auto opened = std::make_unique<Port>();
    if (!opened->lock.take(paths_->lock_dir, path, &open_failure_.pid)) {
        open_failure_.kind = OpenFailure::kLockFile;
        return false;  // a terminal program holds it through its lock file
    }
    const int fd = open_retrying(path);
    if (fd < 0) {
        open_failure_ = OpenFailure{OpenFailure::kSystem, errno, 0};
        return false;
    }
    opened->fd = fd;
    if (!isatty(fd) || tcgetattr(fd, &opened->saved) != 0) {
        open_failure_.kind = OpenFailure::kNotSerial;
        return false;
    }
    // The advisory lock keeps out other programs that lock their ports; the
    // exclusive mode makes the kernel refuse further opens of the line.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        open_failure_ = OpenFailure{OpenFailure::kFlock, errno, 0};
        return false;
    }
    opened->flocked = true;
    if (held_elsewhere(fd) || ioctl(fd, TIOCEXCL) != 0) {
        open_failure_.kind = OpenFailure::kExclusive;
        return false;
    }
    opened->exclusive = true;
    termios raw = opened->saved;
    make_raw(&raw, speed);
    termios got{};
    // A refused change may still have been taken in part.
    opened->settings_changed = true;
    if (tcsetattr(fd, TCSANOW, &raw) != 0 || tcgetattr(fd, &got) != 0 || !took_raw(got, speed)) {
        open_failure_ = OpenFailure{OpenFailure::kSettings, errno, 0};
        return false;
    }
    // Replies reach us as soon as the adapter has them, where the driver
    // lets us ask; where it does not, the port works all the same.
    opened->latency = low_latency_on(fd);
    if (tcgetattr(fd, &opened->set) != 0) {
        opened->set = got;
    }
    opened->path = path;
    opened->baud = baud;
    port_.reset(opened.release());
    // Bytes that arrived before the port was ours are not answers to us.
    tcflush(fd, TCIOFLUSH);
    read_away(fd);
    return true;
}

void SerialGate::Close() {
    if (!port_) {
        return;
    }
    const int fd = port_->fd;
    drain_bounded(fd, port_->baud);
    // Whatever did not leave in time never will; dropping it keeps both the
    // settings change and close() itself from waiting on it.
    tcflush(fd, TCOFLUSH);
    port_.reset();
}

int SerialGate::Send(const char* buffer, int length) {
    if (!port_ || port_->lost || buffer == nullptr || length <= 0) {
        return 0;
    }
    const int fd = port_->fd;
    // The bound runs from the last progress, so a long buffer on a slow line
    // goes out whole while a line that takes nothing costs at most kStallMs.
    auto deadline = Clock::now() + std::chrono::milliseconds(kStallMs);
    int sent = 0;
    while (sent < length) {
        ssize_t n = write(fd, buffer + sent, static_cast<size_t>(length - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            deadline = Clock::now() + std::chrono::milliseconds(kStallMs);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Waited in slices, so that an interruption ends the wait.
            const int wait_ms = std::min(ms_until(deadline), kStallSliceMs);
            if (wait_ms == 0 || interrupt_requested()) {
                break;
            }
            pollfd pfd{fd, POLLOUT, 0};
            int ready = poll(&pfd, 1, wait_ms);
            if (ready < 0 && errno != EINTR) {
                break;
            }
            if (ready > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                port_->lost = true;
                break;
            }
            if (ready > 0) {
                // Room, says poll, yet the write was refused: a stopped
                // output does that. Sleep rather than ask again at once.
                std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
            }
            continue;
        }
        port_->lost = n < 0 && line_gone_error(errno);
        break;
    }
    return sent;
}

int SerialGate::Recv(char* buffer, int length) {
    if (!port_ || port_->lost || buffer == nullptr || length <= 0) {
        return 0;
    }
    const int fd = port_->fd;
    ssize_t n;
    do {
        n = read(fd, buffer, static_cast<size_t>(length));
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        return static_cast<int>(n);
    }
    // With VMIN and VTIME at 0 an empty read returns 0 rather than EAGAIN,
    // and so does a hung-up line: poll tells them apart. A pseudo-terminal
    // whose master has gone reads EIO instead.
    port_->lost = n < 0 ? line_gone_error(errno) : hung_up(fd);
    return 0;
}

bool SerialGate::WaitForInput(int timeout_ms) {
    if (!port_ || port_->lost) {
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        pollfd pfd{port_->fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, ms_until(deadline));
        if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            port_->lost = true;
            return false;
        }
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ms_until(deadline) == 0) {
            return false;
        }
    }
}

bool SerialGate::LineLost() const {
    return port_ && port_->lost;
}

bool SerialGate::SettingsIntact() const {
    termios now{};
    if (!port_ || port_->lost || tcgetattr(port_->fd, &now) != 0) {
        return true;
    }
    const termios& set = port_->set;
    return now.c_iflag == set.c_iflag && now.c_oflag == set.c_oflag && now.c_cflag == set.c_cflag &&
           now.c_lflag == set.c_lflag && cfgetispeed(&now) == cfgetispeed(&set) &&
           cfgetospeed(&now) == cfgetospeed(&set) && now.c_cc[VMIN] == set.c_cc[VMIN] &&
           now.c_cc[VTIME] == set.c_cc[VTIME];
}

std::vector<PortHolder> SerialGate::OtherHolders() const {
    if (!port_) {
        return {};
    }
    end_holder_census();
    return port_holders(port_->path);
}
