// The process on Windows: standard handles, console control events and the
// way out after one.
#include <windows.h>

#include <cstdio>

#include "console/device_run.h"
#include "console/process.h"
#include "console/run_log.h"
#include "console/title.h"
#include "interrupt_win32.h"

namespace {

// The control event that interrupted the run, plus one; 0 while none has.
volatile LONG interrupt_code = 0;

HANDLE event = nullptr;

// Runs on a thread of its own that the system starts. Ctrl+C and Ctrl+Break
// leave the ending to the run, which stops at its next command. For a closed
// console the system ends the process as soon as this returns, so it waits
// here for the run to end the process first; the system allows 5 seconds.
BOOL WINAPI note_control_event(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            request_interrupt(static_cast<int>(type));
            return TRUE;
        case CTRL_CLOSE_EVENT:
            request_interrupt(static_cast<int>(type));
            Sleep(10000);
            return TRUE;
        default:
            return FALSE;
    }
}

// Points a missing standard handle, and the C stream on it, at NUL.
void open_missing(DWORD which, std::FILE* stream, const char* mode) {
    const HANDLE handle = GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        return;
    }
    const HANDLE nul =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (nul != INVALID_HANDLE_VALUE) {
        SetStdHandle(which, nul);
    }
    std::FILE* reopened = std::freopen("NUL", mode, stream);
    (void)reopened;
}

}  // namespace

void open_standard_streams() {
    open_missing(STD_INPUT_HANDLE, stdin, "r");
    open_missing(STD_OUTPUT_HANDLE, stdout, "w");
    open_missing(STD_ERROR_HANDLE, stderr, "w");
}

HANDLE interrupt_event() {
    return event;
}

void install_interrupt_handlers() {
    if (event == nullptr) {
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    SetConsoleCtrlHandler(note_control_event, TRUE);
}

bool interrupt_requested() {
    return InterlockedCompareExchange(&interrupt_code, 0, 0) != 0;
}

void request_interrupt(int signal) {
    InterlockedExchange(&interrupt_code, signal + 1);
    if (event != nullptr) {
        SetEvent(event);
    }
}

void end_if_interrupted() {
    if (!interrupt_requested()) {
        return;
    }
    put_back_title();
    release_device_run();
    std::fflush(stdout);
    std::fflush(stderr);
    run_log_signal(static_cast<int>(InterlockedCompareExchange(&interrupt_code, 0, 0)) - 1);
    // What the system's own handler ends a process with on Ctrl+C.
    ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}
