// SerialGate: the serial-port object both programs reach the device through.
//
// One object per run, at most one port open at a time, never copied. Every
// call is quiet: a port that failed to open, or that was never opened, makes
// Send do nothing and Recv report no bytes, so callers need not check results.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial_link/port_choice.h"
#include "serial_link/port_holders.h"

// The port list record filled by SerialGate::GetPortsInfo: 512 bytes.
//   bytes[2*i]     port number of entry i (shown to the user as "COM<n>")
//   bytes[2*i + 1] state byte of entry i; only entries with state
//                  kStateProbe (1) are probed
//   bytes[510]     number of valid entries, 0..255
struct PortInfo {
    static constexpr int kMaxEntries = 255;
    static constexpr int kCountOffset = 510;
    // The state byte of a port that discovery probes. A port of any other
    // state is listed but never opened by the programs.
    static constexpr std::uint8_t kStateProbe = 1;

    std::uint8_t bytes[512];

    int count() const { return bytes[kCountOffset]; }
    int port(int i) const { return bytes[2 * i]; }
    int state(int i) const { return bytes[2 * i + 1]; }

    // Empties the record: no entries, and all 512 bytes 0.
    void clear();
    // Adds entry (`port`, `state`) after the last one and counts it. Returns
    // false, changing nothing, when the record holds kMaxEntries already.
    bool append(int port, int state);
};
static_assert(sizeof(PortInfo) == 512, "PortInfo is a 512-byte record");

// The device's one line rate, in baud: the programs open every port at it.
inline constexpr int kDeviceBaud = 9600;

// Where the platform looks for ports (serial_link/port_paths.h).
struct PortPaths;

// Why SerialGate::Open last failed, for a tool that explains it to the user.
struct OpenFailure {
    enum Kind {
        kNone,           // the last Open succeeded, or none was made yet
        kNoSuchPort,     // the number names no port, or the rate is not the device's
        kLockFile,       // a UUCP lock file names running process `pid`
        kSystem,         // the system refused to open it: `error` is errno or GetLastError()
        kNotSerial,      // it opened, but is not a serial port
        kFlock,          // another program holds it with flock
        kExclusive,      // another program holds it in the terminal's exclusive mode
        kSettings,       // it would not take the line settings (`error` as for kSystem)
        kOpenElsewhere,  // Linux: process `pid` (and maybe others) has it open, with no lock
        kConsole,        // it is this process's terminal or the console
    };
    Kind kind = kNone;
    int error = 0;
    int pid = 0;
    // kSettings on Windows: the call that refused them ("SetCommState",
    // "SetCommTimeouts"); null otherwise.
    const char* call = nullptr;
};

class SerialGate {
  public:
    // No port is open after construction.
    SerialGate();
    // Closes the open port, if any, restoring its earlier settings.
    ~SerialGate();

    SerialGate(const SerialGate&) = delete;
    SerialGate& operator=(const SerialGate&) = delete;

    // Fills `info` with the machine's serial ports in ascending port number.
    //
    // Linux: for k = 0..31 the device names ttyS<k>, ttyUSB<k>, ttyACM<k> and
    // ttyAMA<k> are ports COM<k+1>, COM<k+33>, COM<k+65> and COM<k+97>. A name
    // is listed when stat() (which follows links) finds a character device.
    // ttyUSB, ttyACM and ttyAMA get state kStateProbe; ttyS<k> gets it only
    // when the kernel reports a UART behind it (/sys/class/tty/ttyS<k>/type
    // non-zero), and state 0 otherwise. No port is opened to find this out.
    //
    // Windows: the ports of the present COM-port device nodes, the system's
    // serial-port map and the DOS device names, state kStateProbe each,
    // except Bluetooth serial ports (the map's \Device\BthModem<n>, or a
    // node whose hardware ID starts BTHENUM), state 2: opening one makes
    // Windows try to reach the paired device, for seconds, on every run.
    //
    // After ChoosePort, the list holds only the port chosen, when the machine
    // has it. Does nothing when `info` is null.
    void GetPortsInfo(PortInfo* info);

    // Narrows the port list to the one port of `choice` (-1 there: every
    // port again). A device path is followed to its device: one that is a
    // port of the list is that port, under its number; any other is listed
    // alone as port kDevicePathPort and opened by that path. Opens nothing.
    void ChoosePort(const PortChoice& choice);

    // The port ChoosePort chose, -1 when none (every port is listed).
    int ChosenPort() const { return chosen_port_; }

    // Port `port` as a record of the run names it: POSIX its device path
    // (and the device a link leads to), on Linux with the USB adapter's
    // "usb <vendor>:<product> serial <serial>" where sysfs has them;
    // Windows its DOS name and driver's device.
    std::string Identify(int port) const;

    // Where this gate looks for ports, a device path chosen included.
    const PortPaths& Paths() const { return *paths_; }

    // Opens port `port` at `baud` in raw 8N1 mode, with no flow control, held
    // exclusively. Closes any port opened before. Returns false when the port
    // is missing, already in use, or is not a serial port, and on POSIX when
    // `baud` is not kDeviceBaud, the device's one rate; the object then stays quiet
    // until the next Open.
    //
    // POSIX: a port whose UUCP lock file (/var/lock/LCK..<name>) names a
    // running process is in use and is not opened. While the port is open
    // this process holds that lock file too, where it may make one; Close
    // removes it. Where the device's name is a link, the lock under the
    // name it finally leads to counts, and is taken, as well.
    //
    // Linux: a port that another process has open, as far as /proc shows
    // it, is in use too; and a name that leads to this process's terminal or
    // the console is never opened. Where the driver has a low-latency mode
    // (ASYNC_LOW_LATENCY; ftdi_sio then sets the chip's latency timer to
    // 1 ms), the port is put in it; a driver that has none or refuses it is
    // left as it was, and the port opens all the same.
    //
    // Windows: a port whose driver refuses the line settings (SetCommState)
    // or the timeouts is closed again at once, never used at the settings
    // another program left; LastOpenFailure then names the call.
    bool Open(int port, int baud);

    // Why the last Open failed; kind kNone after one that succeeded.
    const OpenFailure& LastOpenFailure() const { return open_failure_; }

    // Restores the port's earlier settings (and on Linux the driver's flags)
    // and closes it. Does nothing when no port is open.
    void Close();

    // Writes `length` bytes from `buffer` unchanged. Returns the number of
    // bytes written, fewer than `length` for a write that came up short, 0
    // when no port is open, the line is lost or the write failed (on Windows
    // a write timeout, ERROR_SEM_TIMEOUT, included).
    int Send(const char* buffer, int length);

    // Reads up to `length` bytes into `buffer` and returns how many, never
    // negative: the bytes already received, or 0 at once when none is
    // waiting, when no port is open, or when the line is lost. Never waits;
    // WaitForInput does.
    int Recv(char* buffer, int length);

    // Waits up to `timeout_ms` for a byte to be ready for Recv. Returns true
    // as soon as one is (at once when one is waiting already), false when the
    // time passed without one. Returns false at once when no port is open or
    // the line is lost. Sleeps while it waits: never spins the CPU. The time
    // is kept on the steady clock (steady_us): a driver that returns from a
    // read early, or at once, does not cut the wait short.
    bool WaitForInput(int timeout_ms);

    // True once the system has reported that the open port's line itself is
    // gone: a hang-up, or an I/O error that means the device went away (EIO,
    // ENXIO, ENODEV on POSIX; on Windows a failing handle, or a modem status
    // or line status that the port gave when it opened and no longer gives,
    // as when a USB adapter is pulled out; a line status that fails once is
    // asked again). It stays true until the next Open or Close.
    bool LineLost() const;

    // True while the open port's line settings are still the ones Open set:
    // another program (root passes by the exclusive mode) may have changed
    // them since, and then a byte sent may not be the byte on the wire (CR
    // LF mapping, parity, another rate). POSIX: termios as tcgetattr reads it
    // back; Windows: the DCB. True when no port is open, or when the
    // settings cannot be read (LineLost then tells).
    bool SettingsIntact() const;

    // The processes other than this one that have the open port open now,
    // from a look of its own (not a census, port_holders.h): a program that
    // came after Open, which may have read bytes meant for this one. Empty
    // when no port is open, and on systems that cannot tell.
    std::vector<PortHolder> OtherHolders() const;

    struct Port;  // the open port's platform state
    // Ends a Port: the platform file that makes Ports defines it, since only
    // it knows what one holds.
    struct PortDeleter {
        void operator()(Port* port) const;
    };

  protected:
    // Never null: the machine's own places, unless a test's SerialGateAt
    // (port_paths.h) put others.
    std::unique_ptr<const PortPaths> paths_;

  private:
    std::unique_ptr<Port, PortDeleter> port_;
    int chosen_port_ = -1;
    OpenFailure open_failure_;
};
