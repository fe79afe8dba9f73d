// Runs on lines that carry sparse random noise, seed after seed on virtual
// time: whatever the noise does, no result may come from it. A run may stop;
// every mark, geometry and "ok" it prints must be the device's truth.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "brisko/run.h"
#include "vantel/run.h"
#include "virtual/virtual_run.h"

namespace {

constexpr int kSeeds = 1000;
constexpr int kTables = 2;
constexpr int kEntries = 8;
// The truth of the check pass: entry 1 of table 1 never clears.
const std::string kTruth = ".e" + std::string(14, '.');

// Noise of 00 and FF bytes with gaps uniform in `gap_ms`, from `after_ms`
// after the port opens, on a port with the device behind it or not.
VirtualSetup noisy(std::pair<int, int> gap_ms, unsigned seed, bool device, int after_ms) {
    VirtualSetup setup;
    setup.knobs.table = kTables;
    setup.knobs.pager_to_table = kEntries;
    setup.knobs.uncleared = {{1, 1}};
    VirtualPort& port = setup.ports[0];
    port.device = device;
    port.noise_values = {0x00, 0xFF};
    port.noise_gap_ms = gap_ms;
    port.noise_seed = seed;
    port.noise_after_ms = after_ms;
    return setup;
}

// The marks brisko printed in its check pass.
std::string check_marks(const std::string& output) {
    const std::size_t at = output.find("\nVerify");
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t end = output.find('\n', at + 1);
    return output.substr(at + 7, end == std::string::npos ? std::string::npos : end - at - 7);
}

using NoisyLine = VirtualRun;

TEST_F(NoisyLine, NoNoiseByteBecomesAResult) {
    write_config("0 0 0");
    const std::pair<int, int> gaps[] = {{20, 40}, {50, 150}, {150, 400}, {400, 1000}, {1000, 2000}};
    for (const auto& gap : gaps) {
        int found = 0;
        int stopped = 0;
        int in_pass = 0;
        int false_results[3] = {};
        for (unsigned seed = 0; seed < kSeeds; ++seed) {
            // No device: no clear goes out, no "ok" is printed.
            const int brisko_status = run(run_brisko, noisy(gap, seed, false, 0));
            found += virtual_output().find("found on") != std::string::npos ? 1 : 0;
            const bool cleared = sent_bytes(virtual_trace()).find(">F0") != std::string::npos;
            const int vantel_status = run(run_vantel, noisy(gap, seed, false, 0));
            false_results[0] += brisko_status == 0 || cleared || vantel_status == 0 ||
                                virtual_output().find("verify ok") != std::string::npos;

            // A device that stops answering at a check, the line noisy from
            // about then on: no mark for a check it did not answer. The
            // check pass begins about 1.5 s after the port opens.
            const int check = static_cast<int>(seed % (kTables * kEntries));
            VirtualSetup dying = noisy(gap, seed, true, 1460 + 40 * check);
            dying.knobs.stop_after_checks = check;
            const int dying_status = run(run_brisko, dying);
            const std::string marks = check_marks(virtual_output());
            in_pass += marks.empty() ? 0 : 1;
            false_results[1] +=
                dying_status == 0 ||
                marks.size() > static_cast<std::size_t>(dying.knobs.stop_after_checks) ||
                kTruth.compare(0, marks.size(), marks) != 0;

            // vantel's device silent after the sync, the line noisy after it:
            // "verify error" or a stop, never an "ok" from the noise.
            VirtualSetup silent = noisy(gap, seed, true, 600);
            silent.knobs.silent_after_sync = true;
            run(run_vantel, silent);
            false_results[1] += virtual_output().find("verify ok") != std::string::npos;
            // brisko's the same: no geometry from the noise, so no clear.
            run(run_brisko, silent);
            false_results[1] += sent_bytes(virtual_trace()).find(">F0") != std::string::npos;

            // A healthy device on the same line: the truth, or a stop.
            const int healthy_status = run(run_brisko, noisy(gap, seed, true, 600 + 40 * check));
            const std::string healthy_marks = check_marks(virtual_output());
            stopped += healthy_status != 0;
            false_results[2] += kTruth.compare(0, healthy_marks.size(), healthy_marks) != 0 ||
                                (healthy_status == 0 && healthy_marks != kTruth);
        }
        std::printf(
            "noise every %d-%d ms, %d seeds: no device found on %d, false results %d; "
            "dying device marked %d, false results (with vantel's) %d; healthy device stopped in "
            "%d, "
            "false results %d\n",
            gap.first, gap.second, kSeeds, found, false_results[0], in_pass, false_results[1],
            stopped, false_results[2]);
        EXPECT_EQ(false_results[0] + false_results[1] + false_results[2], 0)
            << gap.first << "-" << gap.second << " ms";
    }
    // On a clean line the healthy device completes with the truth.
    VirtualSetup clean = noisy({0, 0}, 0, true, 0);
    clean.ports[0].noise_values.clear();
    EXPECT_EQ(run(run_brisko, clean), 0);
    EXPECT_EQ(check_marks(virtual_output()), kTruth);
}

}  // namespace
