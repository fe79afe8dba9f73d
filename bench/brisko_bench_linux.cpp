// Measures how closely brisko keeps to the pauses the device needs, and what
// CPU it uses while it waits: runs brisko against the simulated device
// (devsim, with a private /dev) and prints the figures of bench_report.h.
// Between the runs the same pauses are paced without brisko, through
// pause_ms and through a plain clock_nanosleep.
//
//   brisko_bench [--runs N]
#include <errno.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_report.h"
#include "simulator/devsim_run.h"

namespace {

// The plain pacer: an absolute sleep on the monotonic clock to `ms` from now,
// with the thread's timer slack left as it is.
void plain_pause_ms(int ms) {
    timespec when{};
    clock_gettime(CLOCK_MONOTONIC, &when);
    when.tv_sec += ms / 1000;
    when.tv_nsec += ms % 1000 * 1000000L;
    if (when.tv_nsec >= 1000000000L) {
        ++when.tv_sec;
        when.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
    }
}

double ms_of(const timeval& tv) {
    return tv.tv_sec * 1e3 + tv.tv_usec / 1e3;
}

// Inner mode, run by devsim inside its private /dev: runs brisko and writes
// its wall and CPU time to `report`.
int measure(const char* report, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
        return 71;
    }
    const double wall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::ofstream(report) << wall << " " << ms_of(usage.ru_utime) + ms_of(usage.ru_stime) << "\n";
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// One run of brisko under devsim, in a fresh directory, with kSilentPorts
// silent ports tried before the device.
RunFigures run_once(const std::string& self) {
    RunFigures figures;
    char tmpl[] = "/tmp/brisko_bench.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        return figures;
    }
    const std::string dir = tmpl;
    const std::string report = dir + "/usage.txt";
    const DevsimRun run = run_under_devsim(
        DEVSIM_PATH,
        {"--tables", std::to_string(kBenchTables), "--entries", std::to_string(kBenchEntries),
         "--silent-ports", std::to_string(kSilentPorts)},
        self, {"--measure", report, BRISKO_PATH}, dir, 600000);
    std::ifstream usage(report);
    figures.ok = run.exit_status == 0 && read_wire(run.wire, &figures) == kRunBytes &&
                 static_cast<bool>(usage >> figures.wall >> figures.cpu);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--measure") == 0) {
        return measure(argv[2], argv + 3);
    }
    int runs = 3;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) {
        runs = std::atoi(argv[2]);
    }
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();

    print_heading("", true);
    References before = pace_references(plain_pause_ms);
    for (int i = 1; i <= runs; ++i) {
        RunFigures figures = run_once(self);
        const References after = pace_references(plain_pause_ms);
        set_references(&figures, before, after);
        before = after;
        if (print_run(i, figures) != 0) {
            std::printf("(is devsim able to make a private /dev here?)\n");
            return 1;
        }
    }
    return print_verdict();
}
