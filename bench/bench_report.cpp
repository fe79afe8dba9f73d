#include "bench_report.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

double worst_ratio = 0;
double worst_share = 0;

}  // namespace

bool read_wire(std::istream& log, long skip_lines, RunFigures* figures, int* bytes) {
    std::string line;
    for (long i = 0; i < skip_lines && std::getline(log, line); ++i) {
    }
    std::vector<double> run;  // when each byte from F6 on came, in ms
    int sent = 0;
    while (std::getline(log, line)) {
        std::istringstream fields(line);
        double ms = 0;
        std::string direction, hex;
        if (!(fields >> ms >> direction >> hex) || direction != "rx" || fields >> line) {
            continue;  // a byte the device sent, or one to a silent port
        }
        ++sent;
        if (!run.empty() || hex == "F6") {
            run.push_back(ms);
        }
    }
    *bytes = sent;
    // The pause each byte needs before the next: 20 ms after each geometry
    // query; 10, 10, 10 and 20 ms for the bytes that clear an entry; 10, 10
    // and 10 + reply + 10 ms for the bytes that check one.
    std::vector<double> needed = {20, 20, 20};
    for (int i = 0; i < kBenchTables * kBenchEntries; ++i) {
        needed.insert(needed.end(), {10, 10, 10, 20});
    }
    for (int i = 0; i < kBenchTables * kBenchEntries; ++i) {
        needed.insert(needed.end(), {10, 10, 20});
    }
    if (run.size() != needed.size()) {
        return false;
    }
    std::vector<double> over;
    for (std::size_t i = 0; i + 1 < run.size(); ++i) {
        over.push_back(run[i + 1] - run[i] - needed[i]);
    }
    std::nth_element(over.begin(), over.begin() + over.size() / 2, over.end());
    figures->gap_over = over[over.size() / 2];
    figures->wire_span = run.back() - run.front();
    return true;
}

void print_heading(const char* where) {
    std::printf("brisko against the simulated device%s, %d tables of %d entries\n", where,
                kBenchTables, kBenchEntries);
    std::printf("floor (prescribed pauses): %.1f ms; wire span floor: %.1f ms\n\n", kFloorMs,
                kWireFloorMs);
    std::printf("run  wire span ms  ratio   gap over ms  wall ms  cpu ms  cpu share\n");
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
    std::printf("%3d  %12.1f  %.4f  %11.3f  %7.1f  %6.1f  %8.3f%%\n", run, f.wire_span, ratio,
                f.gap_over, f.wall, f.cpu, share * 100);
    std::fflush(stdout);
    return 0;
}

int print_verdict() {
    std::printf(
        "\nworst: wire span / floor = %.4f (goal <= 1.01), CPU = %.3f%% of wall (goal <= 1%%)\n",
        worst_ratio, worst_share * 100);
    return worst_ratio <= 1.01 && worst_share <= 0.01 ? 0 : 3;
}
