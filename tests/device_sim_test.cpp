// The simulated device: its protocol engine, its command line, the pty it
// plays on, and the devsim program.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "simulator/device_engine.h"
#include "simulator/devsim_options.h"
#include "simulator/pty_device.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes feed(DeviceEngine* engine, const Bytes& input) {
    Bytes replies;
    engine_feed_bytes(engine, input.data(), input.size(), &replies);
    return replies;
}

// ---- Protocol engine -------------------------------------------------------

struct ParseCase {
    const char* name;
    DeviceKnobs knobs;
    Bytes input;
    Bytes replies;
};

DeviceKnobs geometry(int tables, int entries) {
    DeviceKnobs knobs;
    knobs.table = tables;
    knobs.pager_to_table = entries;
    return knobs;
}

TEST(DeviceEngine, ParsesCommandsByPosition) {
    const ParseCase cases[] = {
        {"sync echoes", {}, {0xFF, 0xFF}, {0xFF, 0xFF}},
        {"getters give power-on settings", {}, {0xF6, 0xF8, 0xFA}, {10, 2, 3}},
        {"value FA after F5 is pager 250", {}, {0xF5, 0xFA, 0xF6}, {0xFA}},
        {"value FF after F7 is no sync", {}, {0xF7, 0xFF, 0xF8}, {0xFF}},
        {"value F5 after F9 is stored", {}, {0xF9, 0xF5, 0xFA}, {0xF5}},
        {"all three set then read",
         {},
         {0xF5, 0xFA, 0xF7, 0x63, 0xF9, 0xFA, 0xF6, 0xF8, 0xFA},
         {0xFA, 0x63, 0xFA}},
        {"stray bytes are ignored", {}, {0x00, 0x12, 0xEF, 0xF2, 0xF6}, {10}},
        {"entry not clear at power on", {}, {0xF1, 0x01, 0x00}, {0x01}},
        {"cleared entry checks clear", {}, {0xF0, 0x01, 0x02, 0x00, 0xF1, 0x01, 0x02}, {0x00}},
        {"clear touches only its entry",
         {},
         {0xF0, 0x02, 0x00, 0x00, 0xF1, 0x01, 0x00, 0xF1, 0x02, 0x01, 0xF1, 0x02, 0x00},
         {0x01, 0x01, 0x00}},
        {"command bytes as table and entry",
         geometry(255, 250),
         {0xF0, 0xF1, 0xF0, 0x00, 0xF1, 0xF1, 0xF0, 0xF0, 0xFF, 0xF1, 0x00, 0xF1, 0xFF, 0xF1},
         {0x00, 0x00}},
        {"clear with a non-zero last byte does nothing",
         {},
         {0xF0, 0x01, 0x00, 0xF6, 0xF1, 0x01, 0x00},
         {0x01}},
        {"table 0 is outside the memory", {}, {0xF0, 0x00, 0x00, 0x00, 0xF1, 0x00, 0x00}, {0x01}},
        {"table after the last is outside", {}, {0xF0, 0x03, 0x00, 0x00, 0xF1, 0x03, 0x00}, {0x01}},
        {"entry pager_to_table is outside", {}, {0xF0, 0x01, 0x03, 0x00, 0xF1, 0x01, 0x03}, {0x01}},
        {"geometry follows the stored settings",
         {},
         {0xF7, 0x05, 0xF9, 0x07, 0xF0, 0x05, 0x06, 0x00, 0xF1, 0x05, 0x06},
         {0x00}},
    };
    for (const ParseCase& c : cases) {
        DeviceEngine engine;
        engine_power_on(&engine, c.knobs);
        EXPECT_EQ(feed(&engine, c.input), c.replies) << c.name;
    }
}

// The sync numbers, 1..count, that get a reply.
std::vector<int> answered_syncs(const DeviceKnobs& knobs, int count) {
    DeviceEngine engine;
    engine_power_on(&engine, knobs);
    std::vector<int> answered;
    for (int n = 1; n <= count; ++n) {
        std::uint8_t reply = 0;
        if (engine_feed(&engine, 0xFF, &reply)) {
            answered.push_back(n);
        }
    }
    return answered;
}

TEST(DeviceEngine, AnswersOnlyTheChosenSyncs) {
    DeviceKnobs listed;
    listed.echo_syncs = {2, 5, 6};
    EXPECT_EQ(answered_syncs(listed, 8), (std::vector<int>{2, 5, 6}));

    DeviceKnobs every_third;
    every_third.echo_every = 3;
    EXPECT_EQ(answered_syncs(every_third, 10), (std::vector<int>{3, 6, 9}));

    DeviceKnobs both;
    both.echo_syncs = {2, 3, 4};
    both.echo_every = 2;
    EXPECT_EQ(answered_syncs(both, 6), (std::vector<int>{2, 4}));
}

struct KnobCase {
    const char* name;
    DeviceKnobs knobs;
    Bytes input;
    Bytes replies;
};

DeviceKnobs with(void (*change)(DeviceKnobs*)) {
    DeviceKnobs knobs;
    change(&knobs);
    return knobs;
}

// Clears and then checks every entry of the default 2 x 3 memory.
Bytes clear_and_check_all() {
    Bytes bytes;
    for (std::uint8_t t = 1; t <= 2; ++t) {
        for (std::uint8_t e = 0; e < 3; ++e) {
            bytes.insert(bytes.end(), {0xF0, t, e, 0x00});
        }
    }
    for (std::uint8_t t = 1; t <= 2; ++t) {
        for (std::uint8_t e = 0; e < 3; ++e) {
            bytes.insert(bytes.end(), {0xF1, t, e});
        }
    }
    return bytes;
}

TEST(DeviceEngine, KnobsChangeTheReplies) {
    const KnobCase cases[] = {
        {"sync answered with another byte",
         with([](DeviceKnobs* k) { k->sync_reply = 0x55; }),
         {0xFF, 0xF6},
         {0x55, 10}},
        {"silent after sync",
         with([](DeviceKnobs* k) { k->silent_after_sync = true; }),
         {0xFF, 0xF6, 0xF8, 0xF1, 0x01, 0x00, 0xFF},
         {0xFF, 0xFF}},
        {"mute", with([](DeviceKnobs* k) { k->mute = true; }), {0xFF, 0xF6, 0xF1, 0x01, 0x00}, {}},
        {"stop after two checks",
         with([](DeviceKnobs* k) { k->stop_after_checks = 2; }),
         {0xF1, 0x01, 0x00, 0xF1, 0x01, 0x01, 0xF1, 0x01, 0x02, 0xF6},
         {0x01, 0x01, 10}},
        {"stop after no checks",
         with([](DeviceKnobs* k) { k->stop_after_checks = 0; }),
         {0xF1, 0x01, 0x00, 0xFF},
         {0xFF}},
        {"pinned entries stay uncleared",
         with([](DeviceKnobs* k) {
             k->uncleared = {{1, 1}, {2, 2}};
         }),
         clear_and_check_all(),
         {0x00, 0x01, 0x00, 0x00, 0x00, 0x01}},
        {"table stored wrongly",
         with([](DeviceKnobs* k) { k->store_wrong = kSettingTable; }),
         {0xF5, 0x07, 0xF7, 0x05, 0xF9, 0x06, 0xF6, 0xF8, 0xFA},
         {0x07, 0x04, 0x06}},
        {"pager stored wrongly",
         with([](DeviceKnobs* k) { k->store_wrong = kSettingPager; }),
         {0xF5, 0xFA, 0xF6},
         {0xFB}},
        {"power-on settings",
         with([](DeviceKnobs* k) {
             k->pager = 255;
             k->table = 0;
             k->pager_to_table = 250;
         }),
         {0xF6, 0xF8, 0xFA},
         {0xFF, 0x00, 0xFA}},
    };
    for (const KnobCase& c : cases) {
        DeviceEngine engine;
        engine_power_on(&engine, c.knobs);
        EXPECT_EQ(feed(&engine, c.input), c.replies) << c.name;
    }
}

TEST(DeviceEngine, SettingNames) {
    EXPECT_EQ(device_setting_from_name("pager"), kSettingPager);
    EXPECT_EQ(device_setting_from_name("table"), kSettingTable);
    EXPECT_EQ(device_setting_from_name("pager_to_table"), kSettingPagerToTable);
    EXPECT_EQ(device_setting_from_name("tables"), -1);
    EXPECT_STREQ(device_setting_name(kSettingPagerToTable), "pager_to_table");
}

// ---- Command line ----------------------------------------------------------

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::string word;
    for (char c : line) {
        if (c == ' ') {
            if (!word.empty()) {
                out.push_back(word);
            }
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        out.push_back(word);
    }
    return out;
}

TEST(DevsimOptions, ReadsEveryOption) {
    DevsimOptions o;
    std::string error;
    ASSERT_TRUE(parse_devsim_args(
        words("--tables 5 --entries=7 --pager 250 --echo-syncs 1,5,7-9 --echo-every 2 "
              "--sync-reply 0x55 --silent-after-sync --reply-delay 40 --stop-after-checks 3 "
              "--uncleared 1:2 --uncleared 3:0 --store-wrong pager_to_table --silent-ports 2 "
              "--log - -- prog --tables 9"),
        &o, &error))
        << error;
    EXPECT_EQ(o.knobs.table, 5);
    EXPECT_EQ(o.knobs.pager_to_table, 7);
    EXPECT_EQ(o.knobs.pager, 250);
    EXPECT_EQ(o.knobs.echo_syncs, (std::vector<int>{1, 5, 7, 8, 9}));
    EXPECT_EQ(o.knobs.echo_every, 2);
    EXPECT_EQ(o.knobs.sync_reply, 0x55);
    EXPECT_TRUE(o.knobs.silent_after_sync);
    EXPECT_EQ(o.knobs.reply_delay_ms, 40);
    EXPECT_EQ(o.knobs.stop_after_checks, 3);
    ASSERT_EQ(o.knobs.uncleared.size(), 2u);
    EXPECT_EQ(o.knobs.uncleared[1].table, 3);
    EXPECT_EQ(o.knobs.uncleared[1].entry, 0);
    EXPECT_EQ(o.knobs.store_wrong, kSettingPagerToTable);
    EXPECT_EQ(o.silent_ports, 2);
    EXPECT_TRUE(o.log);
    EXPECT_EQ(o.log_path, "-");
    EXPECT_EQ(o.program, words("prog --tables 9"));
}

TEST(DevsimOptions, ModesAndDefaults) {
    DevsimOptions o;
    std::string error;
    ASSERT_TRUE(parse_devsim_args(words("--serve --link /tmp/com33 --sync-reply aB"), &o, &error));
    EXPECT_TRUE(o.serve);
    EXPECT_EQ(o.link, "/tmp/com33");
    EXPECT_EQ(o.knobs.sync_reply, 0xAB);
    EXPECT_FALSE(o.log);

    ASSERT_TRUE(parse_devsim_args(words("--absent prog"), &o, &error));
    EXPECT_TRUE(o.absent);
    EXPECT_EQ(o.program, words("prog"));
    EXPECT_EQ(o.knobs.table, 2);
    EXPECT_EQ(o.knobs.pager_to_table, 3);
    EXPECT_EQ(o.knobs.stop_after_checks, -1);

    ASSERT_TRUE(parse_devsim_args(words("--tables 1 --help --bogus"), &o, &error));
    EXPECT_TRUE(o.help);
}

TEST(DevsimOptions, RejectsBadCommandLines) {
    const struct {
        const char* line;
        const char* mentions;
    } cases[] = {
        {"--tables 256 -- p", "--tables"},
        {"--tables -1 -- p", "--tables"},
        {"--entries 3x -- p", "--entries"},
        {"--pager -- p", "--pager"},
        {"--echo-syncs 0 -- p", "--echo-syncs"},
        {"--echo-syncs 5-3 -- p", "--echo-syncs"},
        {"--echo-syncs 1,,2 -- p", "--echo-syncs"},
        {"--echo-every 0 -- p", "--echo-every"},
        {"--sync-reply 1FF -- p", "--sync-reply"},
        {"--sync-reply zz -- p", "--sync-reply"},
        {"--reply-delay 60001 -- p", "--reply-delay"},
        {"--uncleared 1 -- p", "--uncleared"},
        {"--uncleared 1:256 -- p", "--uncleared"},
        {"--store-wrong tables -- p", "--store-wrong"},
        {"--silent-ports 32 -- p", "--silent-ports"},
        {"--silent-after-sync=1 -- p", "--silent-after-sync"},
        {"--bogus -- p", "--bogus"},
        {"--tables", "--tables"},
        {"", "PROGRAM"},
        {"--tables 3", "PROGRAM"},
        {"--serve -- p", "--serve"},
        {"--serve --absent", "--absent"},
        {"--link x -- p", "--link"},
    };
    for (const auto& c : cases) {
        DevsimOptions o;
        std::string error;
        EXPECT_FALSE(parse_devsim_args(words(c.line), &o, &error)) << c.line;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.line << ": " << error;
    }
}

// ---- The device on a pty ---------------------------------------------------

// Opens `path` as a program opens a serial port: raw, no controlling tty.
int open_port(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// Reads one byte, waiting up to `ms`; -1 when none came.
int read_byte(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    std::uint8_t byte = 0;
    if (poll(&p, 1, ms) == 1 && read(fd, &byte, 1) == 1) {
        return byte;
    }
    return -1;
}

void send(int fd, std::uint8_t byte) {
    ASSERT_EQ(write(fd, &byte, 1), 1);
}

// The device's record once it holds `count` events, waiting up to 2 s: a
// sent byte can reach the host a moment before the device notes it.
std::vector<WireEvent> events_when(PtyDevice* device, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::vector<WireEvent> events = pty_device_events(device);
    while (events.size() < count && std::chrono::steady_clock::now() < deadline) {
        usleep(1000);
        events = pty_device_events(device);
    }
    return events;
}

TEST(PtyDevice, AnswersAndRecordsTheLine) {
    PtyDeviceSetup setup;
    setup.knobs.pager = 0x42;
    std::string error;
    PtyDevice* device = pty_device_start(setup, &error);
    ASSERT_NE(device, nullptr) << error;

    // Every byte 00..FF passes unchanged: set pager to each value that a
    // cooked line would mangle and read it back.
    int port = open_port(pty_device_slave_path(device));
    ASSERT_GE(port, 0);
    for (int value : {0x0A, 0x0D, 0x03, 0x11, 0x13, 0x7F, 0xFF}) {
        send(port, 0xF5);
        send(port, static_cast<std::uint8_t>(value));
        send(port, 0xF6);
        EXPECT_EQ(read_byte(port, 2000), value);
    }
    // Closing the port does not hang up the line: a second opening works.
    close(port);
    port = open_port(pty_device_slave_path(device));
    ASSERT_GE(port, 0);
    send(port, 0xFF);
    EXPECT_EQ(read_byte(port, 2000), 0xFF);
    close(port);

    const std::vector<WireEvent> events = events_when(device, 7 * 4 + 2);
    pty_device_stop(device);
    ASSERT_EQ(events.size(), 7u * 4 + 2);
    EXPECT_FALSE(events[0].sent);
    EXPECT_EQ(events[0].byte, 0xF5);
    EXPECT_TRUE(events.back().sent);
    EXPECT_EQ(events.back().byte, 0xFF);
    for (std::size_t i = 1; i < events.size(); ++i) {
        EXPECT_GE(events[i].ms, events[i - 1].ms);
    }
}

TEST(PtyDevice, DelaysReplies) {
    PtyDeviceSetup setup;
    setup.knobs.sync_delay_ms = 50;
    setup.knobs.reply_delay_ms = 50;
    std::string error;
    PtyDevice* device = pty_device_start(setup, &error);
    ASSERT_NE(device, nullptr) << error;
    const int port = open_port(pty_device_slave_path(device));
    ASSERT_GE(port, 0);

    const auto start = std::chrono::steady_clock::now();
    send(port, 0xFF);
    send(port, 0xF8);
    EXPECT_EQ(read_byte(port, 2000), 0xFF);
    EXPECT_EQ(read_byte(port, 2000), 0x02);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    close(port);

    const std::vector<WireEvent> events = events_when(device, 4);
    pty_device_stop(device);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_TRUE(events[2].sent);
    EXPECT_GE(events[2].ms - events[0].ms, 50.0);
    EXPECT_GE(events[3].ms - events[1].ms, 50.0);
}

TEST(PtyDevice, StopsWithRepliesStillPending) {
    PtyDeviceSetup setup;
    setup.knobs.sync_delay_ms = 60000;
    std::string error;
    PtyDevice* device = pty_device_start(setup, &error);
    ASSERT_NE(device, nullptr) << error;
    const int port = open_port(pty_device_slave_path(device));
    ASSERT_GE(port, 0);
    send(port, 0xFF);
    ASSERT_EQ(events_when(device, 1).size(), 1u);
    const auto start = std::chrono::steady_clock::now();
    pty_device_stop(device);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    close(port);
}

// ---- The devsim program ----------------------------------------------------

class Devsim : public ::testing::Test {
  protected:
    void SetUp() override {
        workdir_ = make_workdir();
        ASSERT_FALSE(workdir_.empty());
    }
    void TearDown() override { remove_workdir(workdir_); }
    std::string workdir_;
};

TEST_F(Devsim, ExitStatuses) {
    const struct {
        std::vector<std::string> devsim_args;
        const char* program;
        std::vector<std::string> program_args;
        int status;
        bool needs_namespace;
    } cases[] = {
        {{"--tables", "300"}, "true", {}, kDevsimUsage, false},
        {{"--no-such-option"}, "true", {}, kDevsimUsage, false},
        {{}, "true", {}, 0, true},
        {{}, "false", {}, 1, true},
        {{}, "sh", {"-c", "exit 42"}, 42, true},
        {{}, "sh", {"-c", "kill -9 $$"}, 128 + 9, true},
        {{}, "/no/such/program", {}, kDevsimCannotRun, true},
    };
    std::string why;
    const bool namespaces = namespaces_available(&why);
    for (const auto& c : cases) {
        if (c.needs_namespace && !namespaces) {
            continue;
        }
        const E2eRun run =
            run_with_device(c.program, c.devsim_args, workdir_, 30000, c.program_args);
        EXPECT_EQ(run.exit_status, c.status) << c.program << "\n" << run.err;
    }
}

TEST_F(Devsim, PrivateDevHoldsOnlyTheSimulatedPorts) {
    SKIP_WITHOUT_NAMESPACES();
    const E2eRun run =
        run_with_device("sh", {"--silent-ports", "2"}, workdir_, 30000,
                        {"-c", "cd /dev && echo tty* && test -c null && test -c ttyUSB2"});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, "tty ttyUSB0 ttyUSB1 ttyUSB2\n");

    const E2eRun absent =
        run_with_device("sh", {"--absent"}, workdir_, 30000, {"-c", "cd /dev && echo tty*"});
    EXPECT_EQ(absent.out, "tty\n") << absent.err;
}

TEST_F(Devsim, ServesUntilTerminated) {
    const std::string link = workdir_ + "/com33";
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl(DEVSIM_PATH, DEVSIM_PATH, "--serve", "--link", link.c_str(), "--tables", "9",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // The first line on standard output is the pty's path.
    std::string path;
    for (int byte = read_byte(out[0], 5000); byte >= 0 && byte != '\n';
         byte = read_byte(out[0], 5000)) {
        path += static_cast<char>(byte);
    }
    close(out[0]);
    EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;

    const int port = open_port(link);
    EXPECT_GE(port, 0);
    if (port >= 0) {
        send(port, 0xF8);
        EXPECT_EQ(read_byte(port, 2000), 9);
        close(port);
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link outlived devsim";
}

}  // namespace
