// SerialGate over the Windows COM ports: Open, Close, Send, Recv and
// DiscardInput.
#include "serial_gate_win32.h"

#include <windows.h>

#include <cstdio>

#include "port_list.h"
#include "serial_link/serial_gate.h"
#include "serial_link/serial_link.h"

struct SerialGate::Port {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB saved_state{};
    bool state_set = false;  // SetCommState took our settings: Close puts the saved ones back
    COMMTIMEOUTS saved_timeouts{};
    bool timeouts_saved = false;
    bool reports_status = false;  // ClearCommError worked when the port opened
};

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

// A read returns at once with what is waiting, or waits up to kRecvWaitMs for
// a first byte and returns it the moment it comes. A write that cannot get
// its bytes out gives up instead of holding the program.
COMMTIMEOUTS recv_timeouts() {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = SerialGate::kRecvWaitMs;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 1000;
    return timeouts;
}

long long counter_now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Milliseconds since counter reading `start`. The performance counter never
// jumps and does not tick in 15.6 ms steps as GetTickCount does. Only the
// difference is converted, so that no product overflows however long the
// machine has run.
long long ms_since(long long start) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (counter_now() - start) * 1000 / frequency.QuadPart;
}

// False once a port that reported its line status stops doing so: its device
// has gone (a USB adapter pulled out, or under Wine a pseudo-terminal hung
// up, where a read would busy-wait through its whole timeout). Ports that
// never report it, as some virtual ones, count as there.
bool line_present(const SerialGate::Port& port) {
    DWORD errors = 0;
    COMSTAT status{};
    return !port.reports_status || ClearCommError(port.handle, &errors, &status) != 0;
}

}  // namespace

bool SerialGate::Open(int port, int baud) {
    Close();
    if (port < 1 || port > PortInfo::kMaxEntries || baud <= 0) {
        return false;
    }
    // The \\.\ form reaches every port; the bare name works for COM1..COM9 only.
    char name[16];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
    const HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }

    // Without its state the handle is not a serial port we can set up, and
    // without our timeouts Recv could block for ever: those failures are
    // fatal. The rest are extras that virtual ports may refuse.
    auto opened = std::make_unique<Port>();
    opened->handle = handle;
    opened->saved_state.DCBlength = sizeof(DCB);
    if (!GetCommState(handle, &opened->saved_state)) {
        CloseHandle(handle);
        return false;
    }
    opened->timeouts_saved = GetCommTimeouts(handle, &opened->saved_timeouts) != 0;
    SetupComm(handle, kQueueBytes, kQueueBytes);
    DCB state = opened->saved_state;
    set_raw_8n1(state, baud);
    // A USB CDC adapter may refuse line settings it would ignore anyway: such
    // a port is kept, and the probe finds out whether the device answers.
    opened->state_set = SetCommState(handle, &state) != 0;
    COMMTIMEOUTS timeouts = recv_timeouts();
    if (!SetCommTimeouts(handle, &timeouts)) {
        if (opened->state_set) {
            SetCommState(handle, &opened->saved_state);
        }
        CloseHandle(handle);
        return false;
    }
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    DWORD errors = 0;
    COMSTAT status{};
    opened->reports_status = ClearCommError(handle, &errors, &status) != 0;
    port_ = std::move(opened);
    return true;
}

void SerialGate::Close() {
    if (!port_) {
        return;
    }
    if (port_->timeouts_saved) {
        SetCommTimeouts(port_->handle, &port_->saved_timeouts);
    }
    if (port_->state_set) {
        SetCommState(port_->handle, &port_->saved_state);
    }
    CloseHandle(port_->handle);
    port_.reset();
}

int SerialGate::Send(const char* buffer, int length) {
    if (!port_ || length <= 0) {
        return 0;
    }
    DWORD written = 0;
    if (!WriteFile(port_->handle, buffer, static_cast<DWORD>(length), &written, nullptr)) {
        return 0;
    }
    return static_cast<int>(written);
}

int SerialGate::Recv(char* buffer, int length) {
    if (!port_ || length <= 0) {
        return 0;
    }
    const long long start = counter_now();
    DWORD got = 0;
    if (line_present(*port_) &&
        ReadFile(port_->handle, buffer, static_cast<DWORD>(length), &got, nullptr) && got > 0) {
        return static_cast<int>(got);
    }
    // A port whose device has gone fails at once; wait out the bound anyway,
    // so that a caller asking again and again does not spin.
    const long long waited = ms_since(start);
    if (waited < kRecvWaitMs) {
        pause_ms(static_cast<int>(kRecvWaitMs - waited));
    }
    return 0;
}

void SerialGate::DiscardInput() {
    if (port_) {
        PurgeComm(port_->handle, PURGE_RXCLEAR);
    }
}
