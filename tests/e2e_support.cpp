#include "e2e_support.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "simulator/devsim_run.h"

#ifndef TRANSCRIPTS_DIR
#error "TRANSCRIPTS_DIR must name tests/transcripts"
#endif

#ifndef DEVSIM_PATH
#error "DEVSIM_PATH must name the devsim program"
#endif

E2eRun run_with_device(const std::string& program, const std::vector<std::string>& devsim_args,
                       const std::string& workdir, int timeout_ms,
                       const std::vector<std::string>& program_args) {
    const DevsimRun devsim =
        run_under_devsim(DEVSIM_PATH, devsim_args, program, program_args, workdir, timeout_ms);
    E2eRun run;
    run.exit_status = devsim.exit_status;
    run.timed_out = devsim.timed_out;
    run.out = devsim.out;
    // An echo that comes later than the pause after its sync byte, as a
    // loaded machine can make the simulated device's, is read by the next
    // attempt, one dot fewer; the exact dots are the virtual clock's to check.
    const std::string wait_sync = "\nWait sync ...";
    if (run.out.compare(0, wait_sync.size(), wait_sync) == 0) {
        const std::size_t dots =
            run.out.find_first_not_of('.', wait_sync.size()) - wait_sync.size();
        if (dots >= 1 && dots <= 20 &&
            run.out.compare(wait_sync.size() + dots, 8, "found on") == 0) {
            run.sync_dots = static_cast<int>(dots);
            run.out.replace(wait_sync.size(), dots, 20, '.');
        }
    }
    run.err = devsim.err;
    for (const WireEvent& event : devsim.wire) {
        const WireByte byte{event.ms, event.byte};
        int k = -1;
        if (event.port.empty()) {
            (event.sent ? run.tx : run.rx).push_back(byte);
        } else if (!event.sent && std::sscanf(event.port.c_str(), "ttyUSB%d", &k) == 1 && k >= 0) {
            if (run.silent_rx.size() <= static_cast<std::size_t>(k)) {
                run.silent_rx.resize(static_cast<std::size_t>(k) + 1);
            }
            run.silent_rx[static_cast<std::size_t>(k)].push_back(byte);
        }
    }
    return run;
}

bool namespaces_available(std::string* why) {
    static int known = -1;
    static std::string reason;
    if (known < 0) {
        const std::string dir = make_workdir();
        const E2eRun run = run_with_device("true", {"--absent"}, dir, 30000);
        remove_workdir(dir);
        known = run.exit_status == 77 ? 0 : 1;
        reason = run.err;
        while (!reason.empty() && reason.back() == '\n') {
            reason.pop_back();
        }
    }
    if (known == 0 && why != nullptr) {
        *why = reason;
    }
    return known == 1;
}

std::string make_workdir() {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) {
        base = "/tmp";
    }
    std::string pattern = (base / "pager_e2e_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return "";
    }
    return pattern;
}

void remove_workdir(const std::string& workdir) {
    std::error_code ignored;
    std::filesystem::remove_all(workdir, ignored);
}

std::vector<std::uint8_t> bytes_of(const std::vector<WireByte>& wire) {
    std::vector<std::uint8_t> bytes;
    for (const WireByte& w : wire) {
        bytes.push_back(w.byte);
    }
    return bytes;
}

std::vector<std::uint8_t> after_sync(const E2eRun& run) {
    const std::vector<std::uint8_t> bytes = bytes_of(run.rx);
    std::size_t i = 0;
    while (i < bytes.size() && i < 20 && bytes[i] == 0xFF) {
        ++i;
    }
    return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.end());
}

std::string transcript(const std::string& name) {
    std::ifstream in(std::string(TRANSCRIPTS_DIR) + "/" + name + ".out", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::uint8_t> transcript_wire(const std::string& name) {
    std::ifstream in(std::string(TRANSCRIPTS_DIR) + "/" + name + ".wire");
    std::vector<std::uint8_t> bytes;
    unsigned byte = 0;
    while (in >> std::hex >> byte) {
        bytes.push_back(static_cast<std::uint8_t>(byte));
    }
    return bytes;
}
