// pager-ports' survey on a /dev, /sys/class/tty and lock directory of the
// test's own, with pseudo-terminals as the ports.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "port_dir.h"
#include "pty_pair.h"
#include "survey.h"

namespace {

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
    for (const char* name : {"rfcomm0", "ttyTHS1", "ttyS32", "ttyCH341USB0", "tty1", "ttyp0"}) {
        dir.link(name, s0.slave_path);
    }
    // ttyUSB0 is an FTDI adapter at the driver's default latency.
    const std::string ftdi = dir.paths().sys_tty_dir + "/ttyUSB0/device";
    std::filesystem::create_directories(ftdi);
    std::ofstream(ftdi + "/latency_timer") << "16\n";
    // A CDC-ACM device the system may suspend mid-run.
    dir.link("ttyACM0", s0.slave_path);
    std::filesystem::create_directories(dir.dev("../sys/ttyACM0/device"));
    std::filesystem::create_directories(dir.dev("../sys/ttyACM0/power"));
    std::ofstream(dir.dev("../sys/ttyACM0/power/control")) << "auto\n";
    const Survey survey = survey_ports(dir.paths(), false);
    ASSERT_EQ(survey.ports.size(), 3u);
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
    EXPECT_NE(text.find("\n- Serial nodes the programs never try: " + dir.dev("rfcomm0").string() +
                        ", " + dir.dev("ttyCH341USB0").string() + ", " +
                        dir.dev("ttyS32").string() + ", " + dir.dev("ttyTHS1").string() + ". "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n- COM65 may be suspended by the system in the middle of a run"),
              std::string::npos)
        << text;
}

// A child that holds `path` open, with no lock, under the command name
// `name`, until killed. It keeps no other descriptor of ours, so it is no
// pseudo-terminal's far end.
pid_t hold_open(const std::string& path, const char* name) {
    int ready[2];
    if (pipe(ready) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        for (int other = 3; other < 1024; ++other) {
            if (other != fd && other != ready[1]) {
                close(other);
            }
        }
        prctl(PR_SET_NAME, name);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte;
    (void)!read(ready[0], &byte, 1);
    close(ready[0]);
    return child;
}

// True when `text` is one JSON value in valid UTF-8: a strict reader that
// checks the grammar and builds nothing.
class JsonCheck {
  public:
    explicit JsonCheck(const std::string& text) : s_(text) {}
    bool valid() { return value() && at_ == s_.size(); }

  private:
    bool value() {
        space();
        if (at_ >= s_.size()) {
            return false;
        }
        const char c = s_[at_];
        const bool ok = c == '{'   ? members('}', true)
                        : c == '[' ? members(']', false)
                        : c == '"' ? string()
                        : c == 't' ? word("true")
                        : c == 'f' ? word("false")
                        : c == 'n' ? word("null")
                                   : number();
        space();
        return ok;
    }
    bool members(char close, bool object) {
        ++at_;
        space();
        if (eat(close)) {
            return true;
        }
        do {
            space();
            if (object && !(string() && (space(), eat(':')))) {
                return false;
            }
            if (!value()) {
                return false;
            }
        } while (eat(','));
        return eat(close);
    }
    bool string() {
        if (!eat('"')) {
            return false;
        }
        while (at_ < s_.size() && s_[at_] != '"') {
            const unsigned char c = static_cast<unsigned char>(s_[at_++]);
            const int tail = c < 0x80                ? 0
                             : c >= 0xC2 && c < 0xE0 ? 1
                             : c >= 0xE0 && c < 0xF0 ? 2
                             : c >= 0xF0 && c < 0xF5 ? 3
                                                     : -1;
            if (c < 0x20 || tail < 0) {
                return false;
            }
            for (int i = 0; i < tail; ++i) {
                if (at_ >= s_.size() || (static_cast<unsigned char>(s_[at_++]) & 0xC0) != 0x80) {
                    return false;
                }
            }
            if (c == '\\') {
                if (at_ >= s_.size() || std::strchr("\"\\/bfnrtu", s_[at_]) == nullptr) {
                    return false;
                }
                if (s_[at_++] == 'u' && !(hex() && hex() && hex() && hex())) {
                    return false;
                }
            }
        }
        return eat('"');
    }
    bool number() {
        const std::size_t start = at_;
        eat('-');
        const std::size_t digits = at_;
        digits_here();
        const bool integer = at_ > digits && (s_[digits] != '0' || at_ == digits + 1);
        const bool fraction = !eat('.') || digits_here();
        const bool exponent = !(eat('e') || eat('E')) || ((eat('+') || eat('-')), digits_here());
        return integer && fraction && exponent && at_ > start;
    }
    bool digits_here() {
        const std::size_t start = at_;
        while (at_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[at_]))) {
            ++at_;
        }
        return at_ > start;
    }
    bool word(const char* w) {
        const std::size_t n = std::strlen(w);
        return s_.compare(at_, n, w) == 0 && (at_ += n, true);
    }
    bool hex() { return at_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[at_++])); }
    bool eat(char c) { return at_ < s_.size() && s_[at_] == c && (++at_, true); }
    void space() {
        while (at_ < s_.size() && std::strchr(" \t\r\n", s_[at_]) != nullptr && s_[at_] != '\0') {
            ++at_;
        }
    }

    const std::string& s_;
    std::size_t at_ = 0;
};

// Every way another program can hold a port, each named with its holder;
// the holders' names come from the system and may hold any bytes, so the
// text never passes a control character on and the JSON stays valid.
TEST_F(PagerPorts, HoldersAreNamedAndTheirNamesPrintedSafely) {
    PtyPair usb1;
    PtyPair usb2;
    ASSERT_TRUE(usb1.ok() && usb2.ok());
    dir.link("ttyUSB1", usb1.slave_path);
    dir.link("ttyUSB2", usb2.slave_path);
    dir.link("ttyUSB3", "/dev/tty");
    const char evil_name[] = "\033]0;x\007\033[2J\\\x7f\xff\xc3";
    const pid_t holder = hold_open(usb0.slave_path, evil_name);
    const pid_t locker = child_with_digit_pid();
    ASSERT_GT(holder, 0);
    ASSERT_GT(locker, 0);
    std::ofstream(dir.lock("ttyUSB1"), std::ios::binary)
        << std::string(reinterpret_cast<const char*>(&locker), 4);
    const int flocked = open(usb2.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(flock(flocked, LOCK_EX), 0);

    const Survey survey = survey_ports(dir.paths(), false);
    const std::string text = survey_text(survey, true, false);
    const std::string json = survey_json(survey);
    kill(holder, SIGKILL);
    kill(locker, SIGKILL);
    waitpid(holder, nullptr, 0);
    waitpid(locker, nullptr, 0);
    close(flocked);

    ASSERT_EQ(survey.ports.size(), 4u);
    EXPECT_FALSE(any_usable(survey));
    const struct {
        const char* held_by;
        int pid;
    } expected[] = {{"open", holder}, {"lock file", locker}, {"flock", 0}, {"", 0}};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(survey.ports[i].device);
        EXPECT_EQ(survey.ports[i].held_by, expected[i].held_by);
        ASSERT_EQ(survey.ports[i].holders.size(), expected[i].pid > 0 ? 1u : 0u);
        if (expected[i].pid > 0) {
            EXPECT_EQ(survey.ports[i].holders[0].pid, expected[i].pid);
        }
    }
    EXPECT_EQ(survey.ports[0].holders[0].command, std::string(evil_name).substr(0, 15));
    EXPECT_EQ(survey.ports[3].problem, "leads to this terminal or the console");
    EXPECT_NE(text.find("open: PID " + std::to_string(holder) + " ?]0;x??[2J\\???\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("- COM33 is held by ?]0;x??[2J\\??? (PID " + std::to_string(holder)),
              std::string::npos)
        << text;
    for (const char c : text) {
        EXPECT_TRUE(c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F &&
                                  static_cast<unsigned char>(c) < 0x80))
            << "byte " << static_cast<int>(static_cast<unsigned char>(c));
    }
    EXPECT_TRUE(JsonCheck(json).valid()) << json;
    EXPECT_NE(
        json.find("\"held_by\": \"open\", \"holders\": [{\"pid\": " + std::to_string(holder) +
                  ", \"command\": \"\\u001b]0;x\\u0007\\u001b[2J\\\\\\u007f\\ufffd\\ufffd\"}]"),
        std::string::npos)
        << json;
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
