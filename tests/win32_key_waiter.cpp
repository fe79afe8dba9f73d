// The key prompt on a real console, for the Wine checks in .ci/windows.
//
//   win32_key_waiter [DELAY_MS]
//
// Sleeps DELAY_MS first, after printing "sleeping", so that keys typed
// meanwhile wait in the console input; then runs wait_key and reports on standard output whether
// the console input mode came back as it was, and the CPU time the wait took.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "console/console.h"

namespace {

double cpu_ms() {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;  // 100 ns ticks
}

DWORD input_mode() {
    const HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    if (input != INVALID_HANDLE_VALUE) {
        GetConsoleMode(input, &mode);
        CloseHandle(input);
    }
    return mode;
}

}  // namespace

int main(int argc, char** argv) {
    const int delay_ms = argc > 1 ? std::atoi(argv[1]) : 0;
    const DWORD mode_before = input_mode();
    if (delay_ms > 0) {
        std::printf("sleeping %d ms\n", delay_ms);
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(delay_ms));
    }

    const double cpu_before = cpu_ms();
    wait_key();
    const double cpu_spent = cpu_ms() - cpu_before;

    const DWORD mode_after = input_mode();
    std::printf("\nmode %s (%#lx)\ncpu %.0f ms\n", mode_after == mode_before ? "kept" : "changed",
                static_cast<unsigned long>(mode_after), cpu_spent);
    return 0;
}
