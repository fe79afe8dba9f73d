// The command line of the programs, the record of a run and the title's
// text, on every platform (under Wine too).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "console/process.h"
#include "console/run_log.h"
#include "console/title.h"
#include "run_log_reader.h"
#include "serial_link/port_choice.h"

namespace {

constexpr char kUsage[] = "Usage: brisko [--port PORT] [--log FILE]\n";
const std::string kTail =
    ". Usage: brisko [--port PORT] [--log FILE]; 'brisko --help' tells more.\n";

struct Read {
    CommandLine result;
    const char* port;
    const char* log;
    std::string out;
    std::string err;
};

Read read(std::vector<const char*> args) {
    args.insert(args.begin(), "brisko");
    Option options[] = {{"--port", "PORT"}, {"--log", "FILE"}};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const CommandLine result =
        read_command_line(static_cast<int>(args.size()), args.data(), "brisko", kUsage, options);
    const std::string out = testing::internal::GetCapturedStdout();
    return {result, options[0].given, options[1].given, out,
            testing::internal::GetCapturedStderr()};
}

TEST(CommandLine, TakesEachOptionOnceInEitherFormAndAnswersHelpAndVersion) {
    const Read both = read({"--port", "COM5", "--log=run.log"});
    EXPECT_EQ(both.result, CommandLine::kRun);
    EXPECT_STREQ(both.port, "COM5");
    EXPECT_STREQ(both.log, "run.log");
    EXPECT_EQ(both.out + both.err, "");
    // A value that begins with "-" is taken after "=" only.
    EXPECT_STREQ(read({"--log=-x"}).log, "-x");
    const Read none = read({});
    EXPECT_EQ(none.result, CommandLine::kRun);
    EXPECT_EQ(none.port, nullptr);
    for (const char* help : {"-h", "--help", "-?", "/?"}) {
        const Read r = read({"--port", "COM5", help, "-n"});
        EXPECT_EQ(r.result, CommandLine::kAnswered) << help;
        EXPECT_EQ(r.out, kUsage) << help;
    }
    EXPECT_EQ(read({"--version"}).out.rfind("brisko ", 0), 0u);
}

TEST(CommandLine, RefusesAnythingElseOnOneLineOfStandardError) {
    const struct {
        std::vector<const char*> args;
        std::string why;
    } cases[] = {
        {{"-n"}, "'-n' is not an option"},
        {{"COM5"}, "'COM5' is not an option"},
        {{"--port=COM5", "--help"}, ""},  // help after a good option still answers
        {{"--portx", "COM5"}, "'--portx' is not an option"},
        {{"--port"}, "--port needs a value (--port PORT)"},
        {{"--port="}, "--port needs a value (--port PORT)"},
        {{"--log", "--port", "COM5"}, "--log needs a value (--log FILE)"},
        {{"--port", "COM5", "--port", "COM6"}, "--port is given twice"},
        {{"-n", "--help"}, "'-n' is not an option"},
        {{"a\x1b[2Jb"}, "'a\\x1B[2Jb' is not an option"},
    };
    for (const auto& c : cases) {
        const Read r = read(c.args);
        if (c.why.empty()) {
            EXPECT_EQ(r.result, CommandLine::kAnswered);
            continue;
        }
        EXPECT_EQ(r.result, CommandLine::kRefused) << c.why;
        EXPECT_EQ(r.err, "brisko: " + c.why + kTail);
        EXPECT_EQ(r.out, "");
    }
}

TEST(CommandLine, PortIsComNumberEverywhereAndDevicePathOnPosix) {
    const struct {
        const char* text;
        int port;            // -2: refused
        const char* device;  // POSIX; Windows refuses every device
    } cases[] = {
        {"COM5", 5, ""},
        {"com33", 33, ""},
        {"COM255", 255, ""},
        {"COM0", -2, ""},
        {"COM256", -2, ""},
        {"COM05", -2, ""},
        {"COM5x", -2, ""},
        {"", -2, ""},
        {"/dev/serial/by-id/usb-FTDI-if00", -1, "/dev/serial/by-id/usb-FTDI-if00"},
        {"ttyUSB0", -1, "/dev/ttyUSB0"},
    };
    for (const auto& c : cases) {
        PortChoice choice;
        const bool taken = read_port_choice(c.text, &choice);
        const bool want = c.port != -2 && (c.port >= 0 || kPortPathsTaken);
        EXPECT_EQ(taken, want) << c.text;
        if (taken) {
            EXPECT_EQ(choice.port, c.port) << c.text;
            EXPECT_EQ(choice.device, c.device) << c.text;
        }
    }
}

std::int64_t fake_now = 0;
std::int64_t fake_clock() {
    return fake_now;
}

TEST(RunLog, AppendsARecordThatItsReaderReadsBack) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "run_log_test";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "run.log").string();
    std::filesystem::remove(path);
    const char* argv[] = {"brisko", "--log", "a b"};
    for (int run = 0; run < 2; ++run) {
        fake_now = 5000000;
        ASSERT_TRUE(run_log_open(path.c_str(), "brisko", 3, argv, fake_clock));
        fake_now += 1500;
        run_log_open_port(33, "/dev/ttyUSB0 usb 0403:6001 serial A1");
        const std::uint8_t sent[] = {0xF0, 0x0A};
        run_log_bytes('>', sent, 2);
        fake_now += 20000;
        run_log_bytes('<', sent + 1, 1);
        run_log_message("\nError:\\ a\tb");
        run_log_exit(run);
        EXPECT_FALSE(run_log_active());
        run_log_message("after the end");
    }
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    const std::vector<LogLine> lines = read_run_log(text.str());
    ASSERT_EQ(lines.size(), 16u) << text.str();
    const std::vector<LogLine> one(lines.begin(), lines.begin() + 8);
    EXPECT_EQ(one[0].event, "start");
    EXPECT_EQ(one[0].text.rfind("brisko ", 0), 0u);
    EXPECT_EQ(one[1].text, "--log a b");
    EXPECT_EQ(one[2].text, "COM33 /dev/ttyUSB0 usb 0403:6001 serial A1");
    EXPECT_EQ(log_events(one, ">"), ">F0>0A");
    EXPECT_EQ(log_events(one, "<"), "<0A");
    EXPECT_DOUBLE_EQ(one[5].ms, 21.5);
    EXPECT_EQ(log_events(one, "say"), "\nError:\\ a\tb");
    EXPECT_EQ(one[7].event + one[7].text, "exit0");
    EXPECT_EQ(lines[15].event + lines[15].text, "exit1");
    for (const LogLine& line : lines) {
        EXPECT_GE(line.ms, 0) << line.event;
    }
    // A directory cannot take a record: said on standard error, nothing begun.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(run_log_open(dir.string().c_str(), "brisko", 1, argv, fake_clock));
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("brisko: cannot write the log to ", 0),
              0u);
    EXPECT_FALSE(run_log_active());
    std::filesystem::remove_all(dir);
}

TEST(TimeLeft, CountsWithCommasAndMinutesRounded) {
    EXPECT_EQ(time_left_text("brisko", "clearing", 1234, 24750, 31 * 60000 + 20000),
              "brisko: clearing 1,234 of 24,750, about 31 min left");
    EXPECT_EQ(time_left_text("brisko", "checking", 0, 6, 29999),
              "brisko: checking 0 of 6, less than a minute left");
    EXPECT_EQ(time_left_text("brisko", "checking", 999, 1000000, 90000),
              "brisko: checking 999 of 1,000,000, about 2 min left");
}

}  // namespace
