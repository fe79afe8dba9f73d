// vantel end to end: config.txt in a working directory, the program run by
// devsim against the simulated device, the output and the wire checked
// byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kFound = found_on(33);
Bytes written(std::uint8_t pager, std::uint8_t table, std::uint8_t pager_to_table) {
    return {0xF5, pager, 0xF7, table, 0xF9, pager_to_table, 0xF6, 0xF8, 0xFA};
}

class VantelE2e : public E2eTest<> {
  protected:
    void write_config(const std::string& text) {
        std::ofstream(workdir_ + "/config.txt", std::ios::binary) << text;
    }
    E2eRun run(const std::vector<std::string>& devsim_args = {}) {
        return run_program(VANTEL_PATH, devsim_args);
    }
};

TEST_F(VantelE2e, CompleteRunWritesAndVerifiesTheThreeSettings) {
    write_config("10 2 3");
    const E2eRun r = run();
    EXPECT_EQ(r.out, transcript("vantel-complete"));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(bytes_of(r.rx), transcript_wire("vantel-complete"));
}

TEST_F(VantelE2e, ValueBytesEqualToCommandOrControlBytesPassUnchanged) {
    const struct {
        const char* config;
        Bytes wire;
    } cases[] = {
        {"250 99 250", written(0xFA, 0x63, 0xFA)},
        {"245 0 240", written(0xF5, 0x00, 0xF0)},
        {"13 17 10", written(0x0D, 0x11, 0x0A)},
        {"3 19 28", written(0x03, 0x13, 0x1C)},
    };
    for (const auto& c : cases) {
        write_config(c.config);
        const E2eRun r = run();
        EXPECT_EQ(r.out, kFound + kWritten + verify_lines(true, true, true) + kPrompt) << c.config;
        EXPECT_EQ(after_sync(r), c.wire) << c.config;
    }
}

}  // namespace
