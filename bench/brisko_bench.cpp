// Measures how closely brisko keeps to the pauses the device needs, and what
// CPU it uses while it waits. Runs brisko against the simulated device
// (devsim) for 3 tables of 10 entries and prints the figures.
//
//   brisko_bench [--runs N]
//
// The figures:
//   floor      the sum of the pauses the erase run prescribes: 20 ms after each
//              of the three geometry queries, 50 ms per entry to clear and
//              40 ms per entry to check;
//   wire span  the time from the first geometry query to the last check byte,
//              as the device saw it. The last entry's final two pauses (10 ms
//              after its reply) happen after that byte, so the span's own
//              floor is 20 ms less;
//   CPU share  brisko's user + system time over its wall time;
//   silent port
//              what each of kSilentPorts ports with nothing behind it, tried
//              before the device, costs discovery: from the first sync byte
//              on the first of them to the first on the device, per port,
//              against the floor of 20 sync attempts of 20 ms.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "simulator/devsim_run.h"

namespace {

constexpr int kTables = 3;
constexpr int kEntries = 10;
constexpr double kFloorMs = 3 * 20.0 + kTables * kEntries * (50.0 + 40.0);
constexpr double kWireFloorMs = kFloorMs - 20.0;
constexpr int kSilentPorts = 2;
constexpr double kSilentFloorMs = 20 * 20.0;

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

struct Figures {
    bool ok = false;
    double wire_span = 0;
    double wall = 0;
    double cpu = 0;
    double silent_port = 0;
};

// One run of brisko under devsim, in a fresh directory.
Figures run_once(const std::string& self) {
    Figures figures;
    char tmpl[] = "/tmp/brisko_bench.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        return figures;
    }
    const std::string dir = tmpl;
    const std::string report = dir + "/usage.txt";
    const DevsimRun run =
        run_under_devsim(DEVSIM_PATH,
                         {"--tables", std::to_string(kTables), "--entries",
                          std::to_string(kEntries), "--silent-ports", std::to_string(kSilentPorts)},
                         self, {"--measure", report, BRISKO_PATH}, dir, 600000);

    // The run proper starts at the first F6, after discovery's sync bytes,
    // and ends with the last byte the device received.
    double first = -1, last = -1;
    double first_silent = -1, first_device = -1;
    for (const WireEvent& event : run.wire) {
        if (!event.sent && first_silent < 0 && !event.port.empty()) {
            first_silent = event.ms;
        }
        if (event.sent || !event.port.empty()) {
            continue;
        }
        if (first_device < 0) {
            first_device = event.ms;
        }
        if (first < 0 && event.byte == 0xF6) {
            first = event.ms;
        }
        last = event.ms;
    }
    std::ifstream usage(report);
    figures.ok = run.exit_status == 0 && first >= 0 &&
                 static_cast<bool>(usage >> figures.wall >> figures.cpu);
    figures.wire_span = last - first;
    figures.silent_port = (first_device - first_silent) / kSilentPorts;
    figures.ok = figures.ok && first_silent >= 0;
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

    std::printf("brisko against the simulated device, %d tables of %d entries\n", kTables,
                kEntries);
    std::printf("floor (prescribed pauses): %.1f ms; wire span floor: %.1f ms\n\n", kFloorMs,
                kWireFloorMs);
    std::printf("silent port floor: %.1f ms (%d ports tried before the device)\n\n", kSilentFloorMs,
                kSilentPorts);
    std::printf("run  wire span ms  ratio   wall ms  cpu ms  cpu share  silent port ms  ratio\n");
    double worst_ratio = 0, worst_share = 0, worst_silent = 0;
    for (int i = 1; i <= runs; ++i) {
        const Figures f = run_once(self);
        if (!f.ok) {
            std::printf("%3d  run failed (is devsim able to make a private /dev here?)\n", i);
            return 1;
        }
        const double ratio = f.wire_span / kWireFloorMs;
        const double share = f.cpu / f.wall;
        worst_ratio = std::max(worst_ratio, ratio);
        worst_share = std::max(worst_share, share);
        const double silent = f.silent_port / kSilentFloorMs;
        worst_silent = std::max(worst_silent, silent);
        std::printf("%3d  %12.1f  %.4f  %8.1f  %6.1f  %8.3f%%  %14.1f  %.4f\n", i, f.wire_span,
                    ratio, f.wall, f.cpu, share * 100, f.silent_port, silent);
    }
    std::printf(
        "\nworst: wire span / floor = %.4f (goal <= 1.01), CPU = %.3f%% of wall (goal <= 1%%),\n"
        "       silent port / floor = %.4f (goal <= 1.125: 0.45 s)\n",
        worst_ratio, worst_share * 100, worst_silent);
    return worst_ratio <= 1.01 && worst_share <= 0.01 && worst_silent <= 1.125 ? 0 : 3;
}
