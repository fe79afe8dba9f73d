// The Windows calls that hold the system and the console for a run, behind
// one table, so that a test can see them made and undone where Wine does
// not show their effect (it has no power management, throttling or
// QuickEdit to speak of).
#pragma once

#include <windows.h>

// The power-throttling record of SetProcessInformation(ProcessPowerThrottling),
// spelled out here: older mingw-w64 headers lack it.
struct PowerThrottlingState {
    ULONG version;
    ULONG control_mask;  // the kinds of throttling this process decides on
    ULONG state_mask;    // of those, the ones that stay on
};
constexpr int kProcessPowerThrottling = 4;  // PROCESS_INFORMATION_CLASS
constexpr ULONG kPowerThrottlingVersion = 1;
constexpr ULONG kThrottleExecutionSpeed = 0x1;
constexpr ULONG kThrottleIgnoreTimerResolution = 0x4;

struct RunCalls {
    EXECUTION_STATE(WINAPI* set_thread_execution_state)(EXECUTION_STATE);
    // nullptr on a system without SetProcessInformation (before Windows 8).
    BOOL(WINAPI* set_process_information)(HANDLE, int, LPVOID, DWORD);
    // The console's own input (CONIN$), whatever standard input is, or
    // INVALID_HANDLE_VALUE without a console.
    HANDLE (*open_console_input)();
    BOOL(WINAPI* close_handle)(HANDLE);
    BOOL(WINAPI* get_console_mode)(HANDLE, LPDWORD);
    BOOL(WINAPI* set_console_mode)(HANDLE, DWORD);
    DWORD(WINAPI* get_console_process_list)(LPDWORD, DWORD);
    // Whether standard output is the console window (stdout_is_console).
    bool (*output_on_console)();
    void (*key_prompt)();  // wait_key
};

// The calls in use: the system's, unless a test put others in.
RunCalls& run_calls();

// The system's own calls.
RunCalls system_run_calls();
