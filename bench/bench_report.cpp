#include "bench_report.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

double worst_ratio = 0;
double worst_share = 0;
double worst_silent = -1;

}  // namespace

int read_wire(const std::vector<WireEvent>& wire, RunFigures* figures) {
    double first = -1, last = -1, first_silent = -1, first_device = -1;
    int bytes = 0;
    for (const WireEvent& event : wire) {
        if (event.sent) {
            continue;
        }
        if (!event.port.empty()) {
            first_silent = first_silent < 0 ? event.ms : first_silent;
            continue;
        }
        first_device = first_device < 0 ? event.ms : first_device;
        ++bytes;
        if (first < 0 && event.byte == 0xF6) {
            first = event.ms;
        }
        last = event.ms;
    }
    figures->wire_span = last - first;
    if (first_silent >= 0) {
        figures->silent_port = (first_device - first_silent) / kSilentPorts;
    }
    return first >= 0 ? bytes : -1;
}

void print_heading(const char* where) {
    std::printf("brisko against the simulated device%s, %d tables of %d entries\n", where,
                kBenchTables, kBenchEntries);
    std::printf("floor (prescribed pauses): %.1f ms; wire span floor: %.1f ms\n\n", kFloorMs,
                kWireFloorMs);
    std::printf("silent port floor: %.1f ms\n\n", kSilentFloorMs);
    std::printf("run  wire span ms  ratio   wall ms  cpu ms  cpu share  silent port ms  ratio\n");
}

int print_run(int run, const RunFigures& f) {
    if (!f.ok) {
        std::printf("%3d  run failed\n", run);
        return 1;
    }
    const double ratio = f.wire_span / kWireFloorMs;
    const double share = f.cpu / f.wall;
    worst_ratio = std::max(worst_ratio, ratio);
    worst_share = std::max(worst_share, share);
    std::printf("%3d  %12.1f  %.4f  %8.1f  %6.1f  %8.3f%%", run, f.wire_span, ratio, f.wall, f.cpu,
                share * 100);
    if (f.silent_port >= 0) {
        const double silent = f.silent_port / kSilentFloorMs;
        worst_silent = std::max(worst_silent, silent);
        std::printf("  %14.1f  %.4f", f.silent_port, silent);
    }
    std::printf("\n");
    std::fflush(stdout);
    return 0;
}

int print_verdict() {
    std::printf(
        "\nworst: wire span / floor = %.4f (goal <= 1.01), CPU = %.3f%% of wall (goal <= 1%%)\n",
        worst_ratio, worst_share * 100);
    if (worst_silent >= 0) {
        std::printf("       silent port / floor = %.4f (goal <= 1.125, 0.45 s)\n", worst_silent);
    }
    return worst_ratio <= 1.01 && worst_share <= 0.01 && worst_silent <= 1.125 ? 0 : 3;
}
