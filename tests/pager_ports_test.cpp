// pager-ports' survey on a /dev, /sys/class/tty and lock directory of the
// test's own, with pseudo-terminals as the ports.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "port_dir.h"
#include "pty_pair.h"
#include "survey.h"

namespace {

std::string hdb_lock(int pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", pid);
    return text;
}

struct PagerPorts : testing::Test {
    PortDir dir;
    PtyPair usb0;  // COM33

    void SetUp() override {
        ASSERT_TRUE(usb0.ok());
        dir.link("ttyUSB0", usb0.slave_path);
    }
};

TEST_F(PagerPorts, FreePortIsUsableAndTtySWithoutUartIsNotTried) {
    PtyPair s0;
    ASSERT_TRUE(s0.ok());
    dir.link("ttyS0", s0.slave_path);
    dir.uart_type("ttyS0", "0");
    // Serial nodes the programs never try, and a virtual console that is none.
    for (const char* name : {"rfcomm0", "ttyTHS1", "ttyS32", "tty1"}) {
        dir.link(name, s0.slave_path);
    }
    // ttyUSB0 is an FTDI adapter at the driver's default latency.
    const std::string ftdi = dir.paths().sys_tty_dir + "/ttyUSB0/device";
    std::filesystem::create_directories(ftdi);
    std::ofstream(ftdi + "/latency_timer") << "16\n";
    const Survey survey = survey_ports(dir.paths(), false);
    ASSERT_EQ(survey.ports.size(), 2u);
    EXPECT_EQ(survey.ports[0].port, 1);
    EXPECT_EQ(survey.ports[0].state, 0);
    EXPECT_EQ(survey.ports[0].state_note, "no UART");
    EXPECT_FALSE(survey.ports[0].tried);
    EXPECT_EQ(survey.ports[1].port, 33);
    EXPECT_EQ(survey.ports[1].device, dir.dev("ttyUSB0").string());
    EXPECT_TRUE(survey.ports[1].usable);
    EXPECT_TRUE(any_usable(survey));
    const std::string text = survey_text(survey, false, false);
    const std::string table =
        "PORT\tDEVICE\tSTATE\tOPEN\tHELD BY\tLATENCY\n"
        "COM1\t" +
        dir.dev("ttyS0").string() +
        "\t0 (no UART)\tnot tried\t-\t-\n"
        "COM33\t" +
        dir.dev("ttyUSB0").string() + "\t1\tyes\t-\t16 ms\n";
    EXPECT_EQ(text.substr(0, table.size()), table);
    const std::string json = survey_json(survey);
    EXPECT_NE(json.find("\"latency_ms\": null}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"latency_ms\": 16}"), std::string::npos) << json;
    // Hints about the machine's own services may come first.
    EXPECT_NE(
        text.find("\n- Serial nodes the programs never try: " + dir.dev("rfcomm0").string() + ", " +
                  dir.dev("ttyS32").string() + ", " + dir.dev("ttyTHS1").string() + ". "),
        std::string::npos)
        << text;
}

TEST_F(PagerPorts, HoldersAreNamed) {
    {
        SCOPED_TRACE("flock");
        const int fd = open(usb0.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_EQ(flock(fd, LOCK_EX), 0);
        const Survey survey = survey_ports(dir.paths(), false);
        close(fd);
        ASSERT_EQ(survey.ports.size(), 1u);
        EXPECT_FALSE(survey.ports[0].usable);
        EXPECT_EQ(survey.ports[0].held_by, "flock");
        EXPECT_EQ(survey.ports[0].problem, "in use by another program");
        EXPECT_FALSE(any_usable(survey));
    }
    {
        SCOPED_TRACE("a live lock file");
        std::ofstream(dir.lock("ttyUSB0")) << hdb_lock(getppid());
        const Survey survey = survey_ports(dir.paths(), false);
        ASSERT_EQ(survey.ports.size(), 1u);
        EXPECT_FALSE(survey.ports[0].usable);
        EXPECT_EQ(survey.ports[0].held_by, "lock file");
        EXPECT_EQ(survey.ports[0].holder_pid, getppid());
        EXPECT_NE(survey_json(survey).find("\"held_by\": \"lock file\", \"holder_pid\": " +
                                           std::to_string(getppid())),
                  std::string::npos);
    }
    {
        SCOPED_TRACE("a stale lock file");
        const pid_t child = fork();
        if (child == 0) {
            _exit(0);
        }
        waitpid(child, nullptr, 0);
        std::ofstream(dir.lock("ttyUSB0")) << hdb_lock(child);
        const Survey survey = survey_ports(dir.paths(), false);
        ASSERT_EQ(survey.ports.size(), 1u);
        EXPECT_TRUE(survey.ports[0].usable);
        EXPECT_EQ(survey.ports[0].held_by, "");
    }
}

TEST_F(PagerPorts, NodeWithoutPermissionNamesTheReasonAndTheGroup) {
    // Root opens any node: the survey then runs as nobody, who can reach the
    // node but not open it.
    std::filesystem::permissions(
        dir.dev("..").lexically_normal(),
        std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
            std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
            std::filesystem::perms::others_exec);
    ASSERT_EQ(chmod(usb0.slave_path.c_str(), geteuid() == 0 ? 0600 : 0), 0);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(2);
        }
        const Survey survey = survey_ports(dir.paths(), false);
        const std::string text = survey_text(survey, false, false);
        const ssize_t n = write(out[1], text.data(), text.size());
        _exit(n < 0 ? 3 : 0);
    }
    close(out[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(text.find("\tno: Permission denied (group "), std::string::npos) << text;
    EXPECT_NE(text.find("; you are not in it)"), std::string::npos) << text;
    EXPECT_NE(text.find("Hints:\n- You are not in the group "), std::string::npos) << text;
}

}  // namespace
