// The benchmark on Windows (run under Wine by .ci/windows-bench): runs
// brisko.exe against a devsim serving the device on a COM port and prints the
// figures of bench_report.h. Between the runs the same pauses are paced
// without brisko, through pause_ms and through Sleep.
//
//   brisko_bench --brisko BRISKO_EXE --log DEVSIM_LOG [--runs N]
//
// DEVSIM_LOG is the wire log of that devsim (--tables 3 --entries 10 --log),
// read after each run from where it stood before the run.
#include <windows.h>

#include <timeapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "bench_report.h"

namespace {

// The plain pacer: Sleep, with the system timer at 1 ms, until `ms` from now
// on the performance counter.
void plain_pause_ms(int ms) {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    const LONGLONG deadline = now.QuadPart + frequency.QuadPart * ms / 1000;
    timeBeginPeriod(1);
    while (now.QuadPart < deadline) {
        const LONGLONG left_ms =
            ((deadline - now.QuadPart) * 1000 + frequency.QuadPart - 1) / frequency.QuadPart;
        Sleep(static_cast<DWORD>(left_ms));
        QueryPerformanceCounter(&now);
    }
    timeEndPeriod(1);
}

double ms_of(const FILETIME& time) {  // 100 ns ticks
    return static_cast<double>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) |
                               time.dwLowDateTime) /
           1e4;
}

long line_count(const char* path) {
    std::ifstream log(path);
    long lines = 0;
    std::string line;
    while (std::getline(log, line)) {
        ++lines;
    }
    return lines;
}

// Starts brisko with no console, in the temporary directory, so that its
// final key wait ends at once, and waits for it. Returns its exit status, or
// -1 when it could not run; sets its wall and CPU time in ms.
int run_brisko(const char* brisko, double* wall, double* cpu) {
    char dir[MAX_PATH];
    if (GetTempPathA(sizeof dir, dir) == 0) {
        return -1;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE nul =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process{};
    std::string command = std::string("\"") + brisko + "\"";

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const BOOL started = CreateProcessA(brisko, command.data(), nullptr, nullptr, TRUE,
                                        DETACHED_PROCESS, nullptr, dir, &startup, &process);
    CloseHandle(nul);
    if (!started) {
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&end);
    *wall = static_cast<double>(end.QuadPart - start.QuadPart) * 1e3 /
            static_cast<double>(frequency.QuadPart);
    // brisko does all its work on its main thread. Wine answers
    // GetProcessTimes about another process with the caller's own times, but
    // GetThreadTimes with the thread's.
    FILETIME created, exited, kernel, user;
    GetThreadTimes(process.hThread, &created, &exited, &kernel, &user);
    *cpu = ms_of(kernel) + ms_of(user);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}

RunFigures run_once(const char* brisko, const char* log) {
    RunFigures figures;
    const long mark = line_count(log);
    const int status = run_brisko(brisko, &figures.wall, &figures.cpu);
    // devsim logs each byte from its own thread as it reads it: the last
    // ones may land a moment after brisko has ended.
    int bytes = 0;
    for (int i = 0; i < 40 && bytes < kRunBytes; ++i) {
        Sleep(i == 0 ? 0 : 50);
        std::ifstream wire(log);
        std::ostringstream text;
        text << wire.rdbuf();
        std::vector<WireEvent> events = parse_wire_log(text.str());
        events.erase(events.begin(),
                     events.begin() + std::min<long>(mark, static_cast<long>(events.size())));
        bytes = read_wire(events, &figures);
    }
    figures.ok = status == 0 && bytes == kRunBytes;
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    const char* brisko = nullptr;
    const char* log = nullptr;
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--brisko") == 0) {
            brisko = argv[i + 1];
        } else if (std::strcmp(argv[i], "--log") == 0) {
            log = argv[i + 1];
        } else if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::atoi(argv[i + 1]);
        }
    }
    if (brisko == nullptr || log == nullptr) {
        std::fprintf(stderr,
                     "usage: brisko_bench --brisko BRISKO_EXE --log DEVSIM_LOG [--runs N]\n");
        return 2;
    }
    print_heading(" on a COM port", false);
    References before = pace_references(plain_pause_ms);
    for (int i = 1; i <= runs; ++i) {
        RunFigures figures = run_once(brisko, log);
        const References after = pace_references(plain_pause_ms);
        set_references(&figures, before, after);
        before = after;
        if (print_run(i, figures) != 0) {
            return 1;
        }
    }
    return print_verdict();
}
