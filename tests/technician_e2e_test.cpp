// What the command line asks of a run, end to end: the port chosen by
// number or by path, the record of a whole run, and the title on a
// controlling terminal.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "pty_pair.h"
#include "run_log_reader.h"

namespace {

using TechnicianE2e = E2eTest<>;

// Two silent ports first: ttyUSB0 and ttyUSB1 (COM33, COM34), the device on
// ttyUSB2 (COM35).
const std::vector<std::string> kBehindTwo = {"--silent-ports", "2", "--tables", "1",
                                             "--entries",      "2"};

TEST_F(TechnicianE2e, PortChosenByNumberOrPathIsTheOnlyOneTried) {
    std::filesystem::create_symlink("/dev/ttyUSB2", workdir_ + "/usb-FTDI_A1-if00-port0");
    const struct {
        std::string port;
        int status;
    } cases[] = {
        {"COM35", 0},
        {"/dev/ttyUSB2", 0},
        {workdir_ + "/usb-FTDI_A1-if00-port0", 0},
        {"COM34", 1},
    };
    for (const auto& c : cases) {
        const E2eRun r =
            run_with_device(BRISKO_PATH, kBehindTwo, workdir_, 60000, {"--port", c.port});
        EXPECT_EQ(r.exit_status, c.status) << c.port;
        if (c.status == 0) {
            EXPECT_EQ(r.out.rfind(found_on(35), 0), 0u) << r.out;
        } else {
            EXPECT_EQ(r.out, kNotResponding);
            EXPECT_TRUE(r.rx.empty());
        }
        // No port but the chosen one is tried.
        const std::size_t silent_bytes[2] = {0, c.status == 0 ? 0u : 20u};
        for (std::size_t k = 0; k < 2; ++k) {
            EXPECT_EQ(k < r.silent_rx.size() ? r.silent_rx[k].size() : 0, silent_bytes[k]);
        }
    }
}

TEST_F(TechnicianE2e, LogOfAWholeRunHoldsWhatTheDeviceGotAndWhatWasPrinted) {
    const std::string log_path = workdir_ + "/run.log";
    const E2eRun r = run_with_device(BRISKO_PATH, {"--tables", "2", "--entries", "3"}, workdir_,
                                     60000, {"--log", log_path});
    ASSERT_EQ(r.exit_status, 0);
    std::ifstream in(log_path);
    std::stringstream text;
    text << in.rdbuf();
    const std::vector<LogLine> log = read_run_log(text.str());
    ASSERT_GE(log.size(), 3u) << text.str();
    EXPECT_EQ(log[0].event, "start");
    std::string sent;
    std::string opened;
    for (const LogLine& line : log) {
        EXPECT_GE(line.ms, 0) << line.event;
        sent += line.event == ">" ? line.text + " " : "";
        opened += line.event == "open" ? line.text + "; " : "";
    }
    EXPECT_EQ(opened, "COM33 /dev/ttyUSB0; ");
    std::string received;
    for (const WireByte& byte : r.rx) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", byte.byte);
        received += hex;
    }
    EXPECT_EQ(sent, received);
    // The dots were written as 20 by the test's support: the log has them all.
    EXPECT_EQ(log_events(log, "say").substr(log_events(log, "say").find("found")),
              r.out.substr(r.out.find("found")));
    EXPECT_EQ(log.back().event + " " + log.back().text, "exit 0");
}

// brisko with a terminal as in a terminal window: its title sequences reach
// the terminal, the old title pushed first and popped before the prompt.
TEST_F(TechnicianE2e, TitleGoesToTheControllingTerminalAndIsPutBackBeforeThePrompt) {
    PtyPair terminal(PtyPair::Mode::kTerminal);
    ASSERT_TRUE(terminal.ok());
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        const int tty = open(terminal.slave_path.c_str(), O_RDWR);  // becomes the terminal
        dup2(tty, STDIN_FILENO);
        dup2(tty, STDOUT_FILENO);
        if (chdir(workdir_.c_str()) != 0) {
            _exit(126);
        }
        execl(DEVSIM_PATH, DEVSIM_PATH, "--tables", "3", "--entries", "10", "--", BRISKO_PATH,
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    std::string seen;
    bool key_sent = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = -1;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd pfd{terminal.master, POLLIN, 0};
        if (poll(&pfd, 1, 20) == 1) {
            char buffer[512];
            const ssize_t n = read(terminal.master, buffer, sizeof buffer);
            seen.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        }
        if (!key_sent && seen.find("Press any key") != std::string::npos) {
            key_sent = write(terminal.master, "x", 1) == 1;
        }
        if (waitpid(child, &status, WNOHANG) == child) {
            break;
        }
    }
    EXPECT_EQ(status, 0) << seen;
    const std::size_t pushed = seen.find("\033[22;0t");
    const std::size_t first =
        seen.find("\033]0;brisko: clearing 0 of 30, less than a minute left\a");
    const std::size_t popped = seen.find("\033[23;0t");
    const std::size_t prompt = seen.find("\r\nPress any key ...");
    EXPECT_LT(pushed, first) << seen;
    EXPECT_LT(first, popped) << seen;
    EXPECT_LT(popped, prompt) << seen;
    EXPECT_EQ(seen.find("\033[22;0t", pushed + 1), std::string::npos);
}

}  // namespace
