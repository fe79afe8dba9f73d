#include "bench_report.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>

namespace {

double worst_ratio = 0;
double worst_share = 0;

}  // namespace

bool read_wire_span(std::istream& log, long skip_lines, double* wire_span, int* bytes) {
    std::string line;
    for (long i = 0; i < skip_lines && std::getline(log, line); ++i) {
    }
    double first = -1, last = -1;
    int sent = 0;
    while (std::getline(log, line)) {
        std::istringstream fields(line);
        double ms = 0;
        std::string direction, hex;
        if (!(fields >> ms >> direction >> hex) || direction != "rx" || fields >> line) {
            continue;  // a byte the device sent, or one to a silent port
        }
        ++sent;
        if (first < 0 && hex == "F6") {
            first = ms;
        }
        last = ms;
    }
    *wire_span = last - first;
    *bytes = sent;
    return first >= 0;
}

void print_heading(const char* where) {
    std::printf("brisko against the simulated device%s, %d tables of %d entries\n", where,
                kBenchTables, kBenchEntries);
    std::printf("floor (prescribed pauses): %.1f ms; wire span floor: %.1f ms\n\n", kFloorMs,
                kWireFloorMs);
    std::printf("run  wire span ms  ratio   wall ms  cpu ms  cpu share\n");
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
    std::printf("%3d  %12.1f  %.4f  %8.1f  %6.1f  %8.3f%%\n", run, f.wire_span, ratio, f.wall,
                f.cpu, share * 100);
    std::fflush(stdout);
    return 0;
}

int print_verdict() {
    std::printf(
        "\nworst: wire span / floor = %.4f (goal <= 1.01), CPU = %.3f%% of wall (goal <= 1%%)\n",
        worst_ratio, worst_share * 100);
    return worst_ratio <= 1.01 && worst_share <= 0.01 ? 0 : 3;
}
