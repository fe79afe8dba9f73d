// The console and the process during a run on Windows: no throttling of the
// process's timers and speed, no QuickEdit, and whether the window is ours
// alone.
#include <windows.h>

#include "console/console.h"
#include "device_run_platform.h"
#include "run_calls_win32.h"

namespace {

// Set when QuickEdit was on and has been turned off; its mode to put back.
HANDLE held_input = INVALID_HANDLE_VALUE;
DWORD saved_input_mode = 0;
bool throttling_held = false;

HANDLE open_conin() {
    return CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

bool set_throttling(ULONG control_mask) {
    const auto set = run_calls().set_process_information;
    if (set == nullptr) {
        return false;
    }
    PowerThrottlingState state{kPowerThrottlingVersion, control_mask, 0};
    return set(GetCurrentProcess(), kProcessPowerThrottling, &state, sizeof state) != 0;
}

}  // namespace

RunCalls system_run_calls() {
    RunCalls calls{};
    calls.set_thread_execution_state = SetThreadExecutionState;
    // Looked up, not linked: Windows 7 has no SetProcessInformation, and
    // Windows 8 and Windows 10 before 1709 refuse the power-throttling class
    // (done without).
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel != nullptr) {
        calls.set_process_information = reinterpret_cast<BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessInformation")));
    }
    calls.open_console_input = open_conin;
    calls.close_handle = CloseHandle;
    calls.get_console_mode = GetConsoleMode;
    calls.set_console_mode = SetConsoleMode;
    calls.get_console_process_list = GetConsoleProcessList;
    calls.output_on_console = stdout_is_console;
    calls.key_prompt = wait_key;
    return calls;
}

RunCalls& run_calls() {
    static RunCalls calls = system_run_calls();
    return calls;
}

void hold_console() {
    // Pauses keep their 1 ms timer resolution and the run its speed while the
    // window is minimised or covered. Windows 10 knows the speed alone, and
    // refuses a mask with a kind it does not know.
    throttling_held = set_throttling(kThrottleExecutionSpeed | kThrottleIgnoreTimerResolution) ||
                      set_throttling(kThrottleExecutionSpeed);

    // A click in a QuickEdit console starts a selection, and the program's
    // next write waits until it ends: the run would stop between two dots.
    RunCalls& calls = run_calls();
    const HANDLE input = calls.open_console_input();
    if (input == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    if (!calls.get_console_mode(input, &mode) || (mode & ENABLE_QUICK_EDIT_MODE) == 0 ||
        !calls.set_console_mode(
            input, (mode | ENABLE_EXTENDED_FLAGS) & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE))) {
        calls.close_handle(input);
        return;
    }
    held_input = input;
    saved_input_mode = mode;
}

void release_console() {
    RunCalls& calls = run_calls();
    if (held_input != INVALID_HANDLE_VALUE) {
        // The extended flags make the QuickEdit and insert bits count.
        calls.set_console_mode(held_input, saved_input_mode | ENABLE_EXTENDED_FLAGS);
        calls.close_handle(held_input);
        held_input = INVALID_HANDLE_VALUE;
    }
    if (throttling_held) {
        // Back to the system's own choice.
        set_throttling(0);
        throttling_held = false;
    }
}

void keep_last_message() {
    // A Command Prompt, PowerShell or Windows Terminal's shell shares the
    // console: the list then holds two processes or more. A console made for
    // this process alone closes with it.
    RunCalls& calls = run_calls();
    DWORD processes[2] = {};
    if (calls.get_console_process_list(processes, 2) == 1 && calls.output_on_console()) {
        calls.key_prompt();
    }
}
