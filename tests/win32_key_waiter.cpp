// The key prompt on a real console, for the Wine checks in .ci/windows.
//
//   win32_key_waiter [DELAY_MS]
//
// Turns on virtual-terminal input, as another program may leave it, and
// sleeps DELAY_MS, after printing "sleeping", so that keys typed meanwhile
// wait in the console input; then runs wait_key and reports on standard
// output the console input mode during the wait, whether it came back as it
// was, and the CPU time the wait took. Exits 2 when virtual-terminal input
// stayed on during the wait.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

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

HANDLE open_console_input() {
    return CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

DWORD input_mode() {
    const HANDLE input = open_console_input();
    DWORD mode = 0;
    if (input != INVALID_HANDLE_VALUE) {
        GetConsoleMode(input, &mode);
        CloseHandle(input);
    }
    return mode;
}

void set_input_mode(DWORD mode) {
    const HANDLE input = open_console_input();
    if (input != INVALID_HANDLE_VALUE) {
        SetConsoleMode(input, mode);
        CloseHandle(input);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int delay_ms = argc > 1 ? std::atoi(argv[1]) : 0;
    set_input_mode(input_mode() | ENABLE_VIRTUAL_TERMINAL_INPUT);
    const DWORD mode_before = input_mode();
    if (delay_ms > 0) {
        std::printf("sleeping %d ms\n", delay_ms);
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(delay_ms));
    }

    // The first mode other than the one before is the one the wait set.
    std::atomic<bool> waiting{true};
    DWORD mode_during = mode_before;
    std::thread watcher([&] {
        while (waiting && mode_during == mode_before) {
            mode_during = input_mode();
            Sleep(20);
        }
    });
    const double cpu_before = cpu_ms();
    wait_key();
    const double cpu_spent = cpu_ms() - cpu_before;
    waiting = false;
    watcher.join();

    const DWORD mode_after = input_mode();
    // A key typed earlier may end the wait before the watcher looks.
    const bool seen = mode_during != mode_before;
    const bool vt_during = seen && (mode_during & ENABLE_VIRTUAL_TERMINAL_INPUT) != 0;
    std::printf("\nmode %s (%#lx)\n", mode_after == mode_before ? "kept" : "changed",
                static_cast<unsigned long>(mode_after));
    if (seen) {
        std::printf("during the wait %#lx, virtual-terminal input %s\n",
                    static_cast<unsigned long>(mode_during), vt_during ? "on" : "off");
    }
    std::printf("cpu %.0f ms\n", cpu_spent);
    return vt_during ? 2 : 0;
}
