// What the benchmark measures and how it reports it, the same on every
// platform; each platform's runner only starts brisko and times it.
#pragma once

#include <vector>

#include "serial_link/serial_link.h"
#include "simulator/wire_log.h"

// The device the benchmark's devsim plays: 3 tables of 10 entries.
inline constexpr int kBenchTables = 3;
inline constexpr int kBenchEntries = 10;

// The sum of the pauses and waits the erase run prescribes: 20 ms after each
// of the three geometry queries, the 100 ms the line must stay quiet before
// the geometry is trusted, 50 ms per entry to clear and 40 ms per entry to
// check.
inline constexpr double kFloorMs =
    3 * 20.0 + kConfirmQuietMs + kBenchTables * kBenchEntries * (50.0 + 40.0);
// The last entry's final two pauses (10 ms after its reply) come after the
// last byte on the wire, so the wire span's own floor is 20 ms less.
inline constexpr double kWireFloorMs = kFloorMs - 20.0;

// Ports with nothing behind them that the Linux run tries before the
// device, and what each may cost at the floor: 20 sync attempts of 20 ms.
inline constexpr int kSilentPorts = 2;
inline constexpr double kSilentFloorMs = 20 * 20.0;

// The bytes the run sends: 20 syncs, 3 queries, 4 per entry cleared and 3
// per entry checked.
inline constexpr int kRunBytes = 20 + 3 + kBenchTables * kBenchEntries * (4 + 3);

struct RunFigures {
    bool ok = false;
    double wire_span = 0;  // ms from the first geometry query to the last byte, as devsim saw it
    // ms the reference pacers took for the same pauses, the mean of their
    // spans just before and just after the run (set_references): through
    // pause_ms, and through the platform's plain sleep.
    double reference = 0;
    double plain = 0;
    // ms, the median by which a pause of the pause_ms reference ran over,
    // likewise; with gap_over it tells what brisko adds between two bytes
    // apart from the pauses, which the load of the machine hardly moves.
    double reference_over = 0;
    double gap_over = 0;  // ms, median of each gap between bytes less the pause it needs
    double wall = 0;      // ms brisko ran
    double cpu = 0;       // ms of CPU brisko used, user + system
    // ms each silent port cost discovery, from the first sync on the first
    // of them to the first on the device, per port; < 0 when none was tried.
    double silent_port = -1;
};

// Reads one run's bytes from devsim's line log: sets the wire span (from the
// first F6 the program sent the device to its last byte), the median gap
// overrun and the silent-port cost in `*figures`, and returns the number of
// bytes the device received. Returns -1 when the run's bytes from F6 on are
// not all there.
int read_wire(const std::vector<WireEvent>& wire, RunFigures* figures);

// What the reference pacers give between two runs: each paces the pauses
// brisko makes from its first geometry query to its last byte, back to back,
// on a thread of its own, and times them on the steady clock: what the wire
// span would be if sending the bytes and everything else between the pauses
// cost nothing. Twenty 20 ms pauses go first, untimed, as the search for
// the device makes them before the run, so that whatever pause_ms learns
// from its first pauses it has learnt before the timed ones.
struct References {
    double pause_ms = 0;       // ms the pauses took through pause_ms
    double pause_ms_over = 0;  // ms, the median by which one of those ran over
    double plain = 0;          // ms the pauses took through `plain_pause_ms`
};
References pace_references(void (*plain_pause_ms)(int ms));

// Sets the reference figures of a run from the references paced just before
// and just after it, so that a machine whose timer drifts during the run
// weighs on both sides.
void set_references(RunFigures* figures, const References& before, const References& after);

// Prints the heading (with the silent-port columns when `silent_ports`), one
// line per run (its number followed by `mark`), and the verdict. Each returns what main returns:
// print_run 1 for a failed run, print_verdict 0 when the runs met the goals and 3 when not. The
// goals: the median run's wire span at most 1.002 of its reference (the floor is what the machine's
// timer allows at that moment, not the sum of the pauses), CPU at most 1 % of wall in every run,
// and a silent port at most 0.45 s in every run. The ratios to the floor are printed too.
void print_heading(const char* where, bool silent_ports);
int print_run(int run, const RunFigures& figures, const char* mark = " ");
int print_verdict();
