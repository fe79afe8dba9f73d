// End-to-end runs: a program under test run by devsim, with the simulated
// device attached as its only serial port.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "expected_output.h"

// One byte on the line as the device saw it, timed from devsim's start.
struct WireByte {
    double ms = 0;
    std::uint8_t byte = 0;
};

struct E2eRun {
    int exit_status = -1;    // devsim's exit status (the program's); -1 when killed on timeout
    bool timed_out = false;  // the run took longer than allowed and was killed
    // The program's standard output; when discovery found the device, with
    // its 1 to 20 dots written as 20 (sync_dots holds how many there were).
    std::string out;
    int sync_dots = 0;
    std::string err;           // devsim's and the program's standard error
    std::vector<WireByte> rx;  // bytes the device received, in order
    std::vector<WireByte> tx;  // bytes the device sent, in order
    // Bytes each silent port received: silent_rx[k] for ttyUSB<k>.
    std::vector<std::vector<WireByte>> silent_rx;
};

// Runs `program` with `program_args` under devsim with `devsim_args` (knobs;
// "--log" and "--" are added here) in `workdir`, which must exist. The child starts a new
// session, so the program has no controlling terminal and its key wait ends
// at once; its standard input is /dev/null, its standard output and error go
// to files in `workdir`, and devsim's byte log to `workdir`/devsim.log.
//
// Waits up to `timeout_ms`; past that, kills the whole run and reports
// timed_out. Never throws; a run that could not be started has
// exit_status -1 and the reason in err.
E2eRun run_with_device(const std::string& program, const std::vector<std::string>& devsim_args,
                       const std::string& workdir, int timeout_ms = 120000,
                       const std::vector<std::string>& program_args = {});

// True when devsim can give a program a private /dev here. Otherwise false,
// with devsim's explanation in *why. Finds out once per process.
bool namespaces_available(std::string* why);

// Makes a fresh empty directory under the system's temporary directory and
// returns its path ("" on failure).
std::string make_workdir();

// Removes `workdir` and everything in it.
void remove_workdir(const std::string& workdir);

// The bytes of `wire`, without their times.
std::vector<std::uint8_t> bytes_of(const std::vector<WireByte>& wire);

// Skips the current test, naming the reason, when no private /dev can be made.
#define SKIP_WITHOUT_NAMESPACES()                                          \
    do {                                                                   \
        std::string why_;                                                  \
        if (!namespaces_available(&why_)) {                                \
            GTEST_SKIP() << "devsim cannot make a private /dev: " << why_; \
        }                                                                  \
    } while (0)

// The expected run `name` from tests/transcripts: its standard output, and
// the bytes the device receives in it.
std::string transcript(const std::string& name);
std::vector<std::uint8_t> transcript_wire(const std::string& name);

// The bytes the device received after discovery's sync bytes (at most 20).
std::vector<std::uint8_t> after_sync(const E2eRun& run);

// A test with a fresh working directory of its own, removed afterwards. The
// test is skipped, naming the reason, when no private /dev can be made.
template <typename Base = ::testing::Test>
class E2eTest : public Base {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_NAMESPACES();
        workdir_ = make_workdir();
        ASSERT_FALSE(workdir_.empty());
    }
    void TearDown() override {
        if (!workdir_.empty()) {
            remove_workdir(workdir_);
        }
    }
    // Runs `program` under devsim with `devsim_args` in the working directory.
    E2eRun run_program(const char* program, const std::vector<std::string>& devsim_args) {
        E2eRun result = run_with_device(program, devsim_args, workdir_);
        EXPECT_FALSE(result.timed_out) << result.out;
        return result;
    }
    std::string workdir_;
};
