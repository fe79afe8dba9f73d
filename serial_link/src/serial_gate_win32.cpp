// SerialGate over the Windows COM ports: Open, Close, Send, Recv,
// WaitForInput and LineLost, through win32_calls.
#include "serial_gate_win32.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "port_list.h"
#include "serial_link/serial_gate.h"
#include "serial_link/serial_link.h"
#include "win32_calls.h"

struct SerialGate::Port {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB saved_state{};  // Close puts these back
    COMMTIMEOUTS saved_timeouts{};
    bool timeouts_saved = false;
    bool reports_status = false;  // ClearCommError worked when the port opened
    bool reports_modem = false;   // so did GetCommModemStatus
    DWORD read_wait_ms = 0;       // the read timeout now set on the handle
    bool lost = false;            // the handle failed: the device has gone
    bool has_ahead = false;       // WaitForInput read a byte ahead for Recv
    char ahead = 0;
};

void SerialGate::PortDeleter::operator()(Port* port) const {
    delete port;
}

namespace {

// The driver's queues, asked for before the settings that depend on them.
constexpr DWORD kQueueBytes = 4096;
// XON is sent when the input queue has drained to XonLim bytes, XOFF when
// only XoffLim bytes are free; with XON/XOFF off they only need to be valid,
// which drivers check against the queue size.
constexpr WORD kXonLim = kQueueBytes / 4;
constexpr WORD kXoffLim = kQueueBytes / 4;
constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;

}  // namespace

void set_raw_8n1(DCB& state, int baud) {
    state.DCBlength = sizeof(DCB);
    state.BaudRate = static_cast<DWORD>(baud);
    state.fBinary = TRUE;
    state.fParity = FALSE;
    state.fOutxCtsFlow = FALSE;
    state.fOutxDsrFlow = FALSE;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fDsrSensitivity = FALSE;
    state.fTXContinueOnXoff = TRUE;
    state.fOutX = FALSE;
    state.fInX = FALSE;
    state.fErrorChar = FALSE;
    state.fNull = FALSE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    state.fAbortOnError = FALSE;
    state.fDummy2 = 0;
    state.wReserved = 0;
    state.XonLim = kXonLim;
    state.XoffLim = kXoffLim;
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.XonChar = kXon;
    state.XoffChar = kXoff;
    state.ErrorChar = 0;
    state.EofChar = 0;
    state.EvtChar = 0;
    state.wReserved1 = 0;
}

namespace {

// A read waits up to `wait_ms` for a first byte and returns the moment one
// comes, with every byte then waiting; with 0 it returns at once. A write
// that cannot get its bytes out gives up instead of holding the program.
COMMTIMEOUTS timeouts_for(DWORD wait_ms) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = wait_ms == 0 ? 0 : MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = wait_ms;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 1000;
    return timeouts;
}

// The longest sleep between two looks at a driver that cut its read short:
// a byte that comes meanwhile is seen this late at most.
constexpr int kRecheckMs = 5;

bool status_answers(const SerialGate::Port& port) {
    DWORD errors = 0;
    COMSTAT status{};
    return win32_calls.ClearCommError(port.handle, &errors, &status) != 0;
}

// False once a port that reported its line when it opened stops doing so:
// its device has gone (a USB adapter pulled out, or under Wine a
// pseudo-terminal hung up, where a read would busy-wait through its whole
// timeout). Some drivers keep the line's error status answering after the
// adapter is gone, while its modem status fails: either failing counts. A
// single failure of the error status is asked again, since some drivers
// report one on a healthy line. Ports that never reported one, as some
// virtual ones, count as there.
bool line_present(const SerialGate::Port& port) {
    if (port.reports_modem) {
        DWORD modem = 0;
        if (!win32_calls.GetCommModemStatus(port.handle, &modem)) {
            return false;
        }
    }
    return !port.reports_status || status_answers(port) || status_answers(port);
}

// Reads what is waiting into `buffer`, waiting up to `wait_ms` for a first
// byte. Returns the count; a failing handle marks the line lost.
DWORD read_port(SerialGate::Port& port, char* buffer, DWORD length, DWORD wait_ms) {
    if (port.read_wait_ms != wait_ms) {
        COMMTIMEOUTS timeouts = timeouts_for(wait_ms);
        if (!win32_calls.SetCommTimeouts(port.handle, &timeouts)) {
            port.lost = true;
            return 0;
        }
        port.read_wait_ms = wait_ms;
    }
    DWORD got = 0;
    if (!win32_calls.ReadFile(port.handle, buffer, length, &got, nullptr)) {
        port.lost = true;
        return 0;
    }
    return got;
}

// Gives up on a handle whose settings could not be made: the driver's own
// settings go back where ours took, and the handle is closed.
void give_up(HANDLE handle, const DCB* saved_state) {
    if (saved_state != nullptr) {
        DCB state = *saved_state;
        win32_calls.SetCommState(handle, &state);
    }
    win32_calls.CloseHandle(handle);
}

}  // namespace

bool SerialGate::Open(int port, int baud) {
    Close();
    open_failure_ = OpenFailure{};
    if (port < 1 || port > PortInfo::kMaxEntries || baud <= 0) {
        open_failure_.kind = OpenFailure::kNoSuchPort;
        return false;
    }
    // The \\.\ form reaches every port; the bare name works for COM1..COM9 only.
    char name[16];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
    const HANDLE handle = win32_calls.CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        open_failure_ = OpenFailure{OpenFailure::kSystem, static_cast<int>(GetLastError()), 0};
        return false;
    }

    // Without its state the handle is not a serial port we can set up;
    // without our line settings the port would run at whatever another
    // program left (another rate, parity, or reads that fail after one line
    // error); without our timeouts Recv could block for ever. Those failures
    // are fatal. The queue sizes and a purge are extras that virtual ports
    // may refuse.
    auto opened = std::make_unique<Port>();
    opened->handle = handle;
    opened->saved_state.DCBlength = sizeof(DCB);
    if (!win32_calls.GetCommState(handle, &opened->saved_state)) {
        open_failure_.kind = OpenFailure::kNotSerial;
        win32_calls.CloseHandle(handle);
        return false;
    }
    opened->timeouts_saved = win32_calls.GetCommTimeouts(handle, &opened->saved_timeouts) != 0;
    win32_calls.SetupComm(handle, kQueueBytes, kQueueBytes);
    DCB state = opened->saved_state;
    set_raw_8n1(state, baud);
    if (!win32_calls.SetCommState(handle, &state)) {
        open_failure_ = OpenFailure{OpenFailure::kSettings, static_cast<int>(GetLastError()), 0,
                                    "SetCommState"};
        give_up(handle, nullptr);
        return false;
    }
    COMMTIMEOUTS timeouts = timeouts_for(0);
    if (!win32_calls.SetCommTimeouts(handle, &timeouts)) {
        open_failure_ = OpenFailure{OpenFailure::kSettings, static_cast<int>(GetLastError()), 0,
                                    "SetCommTimeouts"};
        give_up(handle, &opened->saved_state);
        return false;
    }
    win32_calls.PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    DWORD errors = 0;
    COMSTAT status{};
    opened->reports_status = win32_calls.ClearCommError(handle, &errors, &status) != 0;
    DWORD modem = 0;
    opened->reports_modem = win32_calls.GetCommModemStatus(handle, &modem) != 0;
    port_.reset(opened.release());
    return true;
}

void SerialGate::Close() {
    if (!port_) {
        return;
    }
    if (port_->timeouts_saved) {
        win32_calls.SetCommTimeouts(port_->handle, &port_->saved_timeouts);
    }
    win32_calls.SetCommState(port_->handle, &port_->saved_state);
    win32_calls.CloseHandle(port_->handle);
    port_.reset();
}

int SerialGate::Send(const char* buffer, int length) {
    if (!port_ || port_->lost || length <= 0) {
        return 0;
    }
    // A write that times out (usbser.sys may fail every one with
    // ERROR_SEM_TIMEOUT until the cable is plugged in again) or fails put
    // nothing out that we can count on; one that succeeds may still have
    // written fewer bytes than asked.
    DWORD written = 0;
    if (!win32_calls.WriteFile(port_->handle, buffer, static_cast<DWORD>(length), &written,
                               nullptr)) {
        port_->lost = !line_present(*port_);
        return 0;
    }
    return static_cast<int>(written < static_cast<DWORD>(length) ? written : length);
}

int SerialGate::Recv(char* buffer, int length) {
    if (!port_ || port_->lost || length <= 0) {
        return 0;
    }
    int got = 0;
    if (port_->has_ahead) {
        buffer[got++] = port_->ahead;
        port_->has_ahead = false;
    }
    if (got < length && !line_present(*port_)) {
        port_->lost = true;
        return got;
    }
    if (got < length) {
        got +=
            static_cast<int>(read_port(*port_, buffer + got, static_cast<DWORD>(length - got), 0));
    }
    return got;
}

bool SerialGate::WaitForInput(int timeout_ms) {
    if (!port_ || port_->lost) {
        return false;
    }
    if (port_->has_ahead) {
        return true;
    }
    // The wait is timed on the steady clock, not trusted to the driver: some
    // return from a read at once, or early, with nothing. The first read
    // waits the whole time; after one that came back early the rest is slept
    // in short steps, each followed by a read that does not wait.
    const std::int64_t deadline_us =
        steady_us() + std::int64_t{timeout_ms > 0 ? timeout_ms : 0} * 1000;
    DWORD wait = timeout_ms > 0 ? static_cast<DWORD>(timeout_ms) : 0;
    for (;;) {
        // Under Wine a read on a hung-up line busy-waits through its whole
        // timeout: ask first.
        if (!line_present(*port_)) {
            port_->lost = true;
            return false;
        }
        port_->has_ahead = read_port(*port_, &port_->ahead, 1, wait) == 1;
        if (port_->has_ahead || port_->lost) {
            return port_->has_ahead;
        }
        const std::int64_t left_us = deadline_us - steady_us();
        if (left_us <= 0) {
            return false;
        }
        const std::int64_t left_ms = (left_us + 999) / 1000;
        pause_ms(static_cast<int>(left_ms < kRecheckMs ? left_ms : kRecheckMs));
        wait = 0;
    }
}

bool SerialGate::LineLost() const {
    return port_ && port_->lost;
}

// What another program may change behind the open port: its DCB, compared
// with the one Open set (where the driver took it), field by field that
// changes a byte or its timing on the wire.
bool SerialGate::SettingsIntact() const {
    DCB now{};
    now.DCBlength = sizeof(DCB);
    // An open port always took its settings: Open fails when the driver
    // refuses them.
    if (!port_ || port_->lost || !win32_calls.GetCommState(port_->handle, &now)) {
        return true;
    }
    DCB set = port_->saved_state;
    set_raw_8n1(set, kDeviceBaud);
    return now.BaudRate == set.BaudRate && now.ByteSize == set.ByteSize &&
           now.Parity == set.Parity && now.StopBits == set.StopBits && now.fParity == set.fParity &&
           now.fOutxCtsFlow == set.fOutxCtsFlow && now.fOutxDsrFlow == set.fOutxDsrFlow &&
           now.fOutX == set.fOutX && now.fInX == set.fInX && now.fNull == set.fNull &&
           now.fErrorChar == set.fErrorChar;
}

// Windows opens a COM port for one handle only: nobody else can hold it.
std::vector<PortHolder> SerialGate::OtherHolders() const {
    return {};
}

void begin_holder_census() {}

void end_holder_census() {}
