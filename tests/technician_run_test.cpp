// What the command line asks of a run, on virtual time: the port chosen,
// the record of the run, and the time left in the title.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "brisko/run.h"
#include "console/run_log.h"
#include "run_log_reader.h"
#include "vantel/run.h"
#include "virtual/virtual_run.h"

namespace {

// COM1 with nothing behind it, the device on COM33, COM34 silent too.
VirtualSetup three_ports() {
    VirtualSetup setup;
    setup.knobs.table = 2;
    setup.knobs.pager_to_table = 3;
    setup.ports = {VirtualPort{1, 1, false}, VirtualPort{33}, VirtualPort{34, 1, false}};
    return setup;
}

RunOptions on_port(int port) {
    RunOptions options;
    options.port.port = port;
    return options;
}

using TechnicianRun = VirtualRun;

TEST_F(TechnicianRun, PortChosenIsTheOnlyOneOpened) {
    write_config("10 2 3\n");
    const struct {
        int port;
        int status;
        std::string opened;  // the opens of the trace, in order
        std::string err;
    } cases[] = {
        {-1, 0, "open1 open33 ", ""},
        {33, 0, "open33 ", ""},
        {34, 1, "open34 ", ""},
        {5, 1, "",
         "COM5 is no serial port of this machine (pager-ports --port COM5 tells more).\n"},
    };
    using Program = int (*)(const RunOptions&);
    for (Program program : {Program{run_vantel}, Program{run_brisko}}) {
        for (const auto& c : cases) {
            virtual_reset(three_ports());
            testing::internal::CaptureStderr();
            EXPECT_EQ(program(on_port(c.port)), c.status) << c.port;
            EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
            std::string opened;
            std::istringstream steps(virtual_trace());
            for (std::string step; steps >> step;) {
                opened += step.rfind("open", 0) == 0 ? step + " " : "";
            }
            EXPECT_EQ(opened, c.opened) << c.port;
            if (c.status == 1) {
                EXPECT_EQ(virtual_output(), kNotResponding) << c.port;
            }
        }
    }
}

std::int64_t virtual_clock() {
    return virtual_now_us();
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The record holds what the trace and the output hold, at the times the
// trace gives, and how the run ended.
TEST_F(TechnicianRun, RecordHoldsEveryByteAndMessageAtItsTime) {
    VirtualSetup setup = three_ports();
    setup.knobs.uncleared = {{2, 1}};
    virtual_reset(setup);
    const char* argv[] = {"brisko", "--log", "run.log"};
    ASSERT_TRUE(run_log_open("run.log", "brisko", 3, argv, virtual_clock));
    run_log_exit(run_brisko(RunOptions{}));
    const std::vector<LogLine> log = read_run_log(read_file("run.log"));
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[1].text, "--log run.log");
    std::string opens;
    for (const LogLine& line : log) {
        ASSERT_GE(line.ms, 0) << line.event << " " << line.text;
        opens += line.event == "open" ? line.text + "; " : "";
    }
    EXPECT_EQ(opens, "COM1 virtual1; COM33 virtual33; ");
    EXPECT_EQ(log_events(log, "say"), virtual_output());
    std::string sent;
    std::string read;
    for (const LogLine& line : log) {
        sent += line.event == ">" ? ">" + line.text : "";
        read += line.event == "<" ? "<" + line.text : "";
    }
    EXPECT_EQ(sent, sent_bytes(virtual_trace()));
    std::string trace_read;
    std::istringstream steps(virtual_trace());
    for (std::string step; steps >> step;) {
        trace_read += step[0] == '<' ? step : "";
    }
    EXPECT_EQ(read, trace_read);
    // The first clear goes out after the 40 syncs, the settle and the
    // geometry's three questions with their confirming quiet.
    for (const LogLine& line : log) {
        if (line.event == ">" && line.text == "F0") {
            EXPECT_DOUBLE_EQ(line.ms, 2 * 20 * 20 + kSettleQuietMs + 3 * 20 + kConfirmQuietMs);
            break;
        }
    }
    EXPECT_EQ(log.back().event + " " + log.back().text, "exit 0");
}

TEST_F(TechnicianRun, TitleShowsTheTimeLeftOnceASecondAndIsPutBackBeforeThePrompt) {
    VirtualSetup setup = three_ports();
    setup.knobs.table = 3;
    setup.knobs.pager_to_table = 10;
    setup.console = true;
    virtual_reset(setup);
    EXPECT_EQ(run_brisko(RunOptions{}), 0);
    const std::vector<VirtualTitle>& titles = virtual_titles();
    ASSERT_GE(titles.size(), 3u);
    // The first at the first clear: every pause of the 30 clears and checks
    // still to come.
    EXPECT_EQ(titles[0].text, "brisko: clearing 0 of 30, less than a minute left");
    for (std::size_t i = 1; i + 1 < titles.size(); ++i) {
        EXPECT_GE(titles[i].at_us - titles[i - 1].at_us, 1000000) << titles[i].text;
    }
    EXPECT_EQ(titles[1].text.rfind("brisko: clearing 20 of 30, ", 0), 0u) << titles[1].text;
    EXPECT_EQ(titles[2].text.rfind("brisko: checking ", 0), 0u) << titles[2].text;
    EXPECT_EQ(titles.back().text, "(put back)");
    EXPECT_TRUE(virtual_output().ends_with(kPrompt));
    // Without a console there is no title to show.
    setup.console = false;
    virtual_reset(setup);
    EXPECT_EQ(run_brisko(RunOptions{}), 0);
    EXPECT_TRUE(virtual_titles().empty());
}

}  // namespace
