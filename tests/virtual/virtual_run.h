// A test fixture for runs on the virtual machine, and the trace of each step
// of the exchange as the host performs it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "expected_output.h"
#include "serial_link/serial_link.h"
#include "virtual_platform.h"

// Runs each test in a fresh empty working directory (config.txt goes there)
// and starts each run on a fresh virtual machine.
class VirtualRun : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Writes config.txt into the working directory.
    void write_config(const std::string& text);

    // Resets the machine to `setup` and runs `run` (run_vantel or
    // run_brisko). Returns the run's exit status.
    int run(int (*run)(), const VirtualSetup& setup = VirtualSetup{});

  private:
    std::filesystem::path previous_;
    std::filesystem::path workdir_;
};

// Trace pieces for the steps of a well-behaved exchange.
std::string hex(std::uint8_t byte);
// A wait of `ms` that ran out, slice by slice.
std::string waited_out(int ms);
// The line staying quiet after a reply, which confirms it.
inline const std::string kQuiet = waited_out(kConfirmQuietMs);
// The longer quiet that confirms what a pass rests on.
inline const std::string kLongQuiet = waited_out(kOutOfStepQuietMs);
// A reply bound that ran out.
inline const std::string kNoReply = waited_out(kReplyBoundMs);
// Discovery on port `port` with all 20 syncs echoed, then the line let fall
// quiet.
std::string synced(int port = 33);
// A query that got no reply within the bound, and the line stayed quiet as
// long again.
std::string no_reply(std::uint8_t command);
// A setter: command byte and value, each followed by 20 ms.
std::string set(std::uint8_t command, std::uint8_t value);
// A query answered at once with `reply`.
std::string query(std::uint8_t command, std::uint8_t reply);
// The clear command of entry e of table t.
std::string clear(int t, int e);
// The check of entry e of table t answered at once with `reply`.
std::string check(int t, int e, std::uint8_t reply = 0x00);
// Only the bytes the line took from the host, from a trace: ">F6>F8...".
std::string sent_bytes(const std::string& trace);
// The end of a completed run.
inline const std::string kClosedAndPrompted = "close key ";
