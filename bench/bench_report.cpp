#include "bench_report.h"

#include "serial_link/serial_link.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

double worst_ratio = 0;
double worst_share = 0;
double worst_silent = -1;
std::vector<double> to_reference;  // each run's wire span over its reference
std::vector<double> to_plain;      // and over the plain pacer's
std::vector<double> own_cost;      // each run's gap over less its reference's, ms

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

struct Paced {
    double span = 0;  // ms
    double over = 0;  // ms, median
};

Paced pace(void (*pause)(int ms)) {
    Paced paced;
    std::thread pacer([&] {
        for (int i = 0; i < 20; ++i) {
            pause(20);
        }
        std::vector<double> over;
        const auto start = std::chrono::steady_clock::now();
        auto timed = [&](int ms) {
            const auto begin = std::chrono::steady_clock::now();
            pause(ms);
            over.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
                    .count() -
                ms);
        };
        for (int i = 0; i < 3; ++i) {  // the geometry queries
            timed(20);
        }
        timed(kConfirmQuietMs);  // the quiet before the table size is trusted
        for (int i = 0; i < kBenchTables * kBenchEntries; ++i) {  // clearing
            for (int ms : {10, 10, 10, 20}) {
                timed(ms);
            }
        }
        for (int i = 0; i < kBenchTables * kBenchEntries; ++i) {  // checking
            // The last entry's last pause comes after the last byte.
            const int pauses = i + 1 < kBenchTables * kBenchEntries ? 4 : 3;
            for (int p = 0; p < pauses; ++p) {
                timed(10);
            }
        }
        paced.span =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        paced.over = median(over);
    });
    pacer.join();
    return paced;
}

}  // namespace

References pace_references(void (*plain_pause_ms)(int ms)) {
    References references;
    references.plain = pace(plain_pause_ms).span;
    const Paced paced = pace(pause_ms);
    references.pause_ms = paced.span;
    references.pause_ms_over = paced.over;
    return references;
}

void set_references(RunFigures* figures, const References& before, const References& after) {
    figures->reference = (before.pause_ms + after.pause_ms) / 2;
    figures->reference_over = (before.pause_ms_over + after.pause_ms_over) / 2;
    figures->plain = (before.plain + after.plain) / 2;
}

int read_wire(const std::vector<WireEvent>& wire, RunFigures* figures) {
    std::vector<double> run;  // when each byte from the first F6 on came, in ms
    double first_silent = -1, first_device = -1;
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
        if (!run.empty() || event.byte == 0xF6) {
            run.push_back(event.ms);
        }
    }
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
        return -1;
    }
    std::vector<double> over;
    for (std::size_t i = 0; i + 1 < run.size(); ++i) {
        over.push_back(run[i + 1] - run[i] - needed[i]);
    }
    std::nth_element(over.begin(), over.begin() + over.size() / 2, over.end());
    figures->gap_over = over[over.size() / 2];
    figures->wire_span = run.back() - run.front();
    if (first_silent >= 0) {
        figures->silent_port = (first_device - first_silent) / kSilentPorts;
    }
    return bytes;
}

void print_heading(const char* where, bool silent_ports) {
    std::printf("brisko against the simulated device%s, %d tables of %d entries\n", where,
                kBenchTables, kBenchEntries);
    std::printf("floor (prescribed pauses): %.1f ms; wire span floor: %.1f ms\n\n", kFloorMs,
                kWireFloorMs);
    if (silent_ports) {
        std::printf("silent port floor: %.1f ms (%d ports tried before the device)\n\n",
                    kSilentFloorMs, kSilentPorts);
    }
    std::printf(
        "the references pace the same pauses back to back between the runs, through\n"
        "pause_ms (ref) and through the system's plain sleep (plain); each run is set\n"
        "against the mean of those just before and just after it\n\n");
    std::printf(
        "run  wire span ms  /floor  /ref    /plain  ref ms  /floor  plain ms  /floor  "
        "gap over ms  ref over ms  cpu ms  cpu share%s\n",
        silent_ports ? "  silent port ms  /floor" : "");
}

int print_run(int run, const RunFigures& f, const char* mark) {
    if (!f.ok) {
        std::printf("%3d%s run failed\n", run, mark);
        return 1;
    }
    const double ratio = f.wire_span / kWireFloorMs;
    const double share = f.cpu / f.wall;
    worst_ratio = std::max(worst_ratio, ratio);
    worst_share = std::max(worst_share, share);
    to_reference.push_back(f.wire_span / f.reference);
    to_plain.push_back(f.wire_span / f.plain);
    own_cost.push_back(f.gap_over - f.reference_over);
    std::printf(
        "%3d%s %12.1f  %.4f  %.4f  %.4f  %6.1f  %.4f  %8.1f  %.4f  %11.3f  %11.3f  %6.1f  %8.3f%%",
        run, mark, f.wire_span, ratio, to_reference.back(), to_plain.back(), f.reference,
        f.reference / kWireFloorMs, f.plain, f.plain / kWireFloorMs, f.gap_over, f.reference_over,
        f.cpu, share * 100);
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
    if (to_reference.empty()) {
        return 3;
    }
    const double over_reference = median(to_reference);
    std::printf("\nmedian: wire span / ref = %.4f (goal <= 1.002), / plain = %.4f\n",
                over_reference, median(to_plain));
    // The gaps between the bytes from the first geometry query on.
    const int gaps = kRunBytes - 20 - 1;
    std::printf("        gap over - ref over = %.3f ms a gap (1.002 of the span: %.3f ms a gap)\n",
                median(own_cost), kWireFloorMs * 0.002 / gaps);
    std::printf("worst:  wire span / floor = %.4f, CPU = %.3f%% of wall (goal <= 1%%)\n",
                worst_ratio, worst_share * 100);
    if (worst_silent >= 0) {
        std::printf("        silent port / floor = %.4f (goal <= 1.125, 0.45 s)\n", worst_silent);
    }
    return over_reference <= 1.002 && worst_share <= 0.01 && worst_silent <= 1.125 ? 0 : 3;
}
