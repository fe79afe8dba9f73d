// The machine kept awake, end to end: the programs under devsim with a
// private system bus, first without logind on it, then with a fake logind
// (python3-dbusmock's template), whose inhibitor list is read while brisko
// runs and after it has ended.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "e2e_support.h"

namespace {

using namespace std::chrono_literals;

// One inhibitor as logind lists it: what, who, why and mode.
using Inhibitor = std::tuple<std::string, std::string, std::string, std::string>;

// logind's inhibitors on the system bus, or nothing when logind did not answer.
std::optional<std::vector<Inhibitor>> list_inhibitors() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        return std::nullopt;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    std::optional<std::vector<Inhibitor>> found;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "ListInhibitors", &error, &reply,
                           "") >= 0 &&
        sd_bus_message_enter_container(reply, 'a', "(ssssuu)") >= 0) {
        found.emplace();
        const char *what, *who, *why, *mode;
        std::uint32_t uid, pid;
        while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
            found->emplace_back(what, who, why, mode);
        }
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return found;
}

// Starts `argv` with its output in `log`; returns its pid, or -1.
pid_t start(const std::vector<const char*>& argv, const std::string& log) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::FILE* out = std::freopen(log.c_str(), "w", stdout);
        if (out != nullptr) {
            dup2(fileno(out), STDERR_FILENO);
        }
        std::vector<char*> args;
        for (const char* arg : argv) {
            args.push_back(const_cast<char*>(arg));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// True once `ready` holds, checked every 20 ms for up to `bound`.
template <typename Ready>
bool wait_until(Ready ready, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class KeepAwakeE2e : public E2eTest<> {
  protected:
    void SetUp() override {
        if (std::system("/usr/bin/python3 -c 'import dbusmock' >/dev/null 2>&1") != 0 ||
            access("/usr/bin/dbus-daemon", X_OK) != 0) {
            GTEST_SKIP() << "python3-dbusmock and dbus-daemon are needed for a fake logind";
        }
        E2eTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        const std::string socket = workdir_ + "/system_bus";
        address_ = "unix:path=" + socket;
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
        const std::string address_arg = "--address=" + address_;
        bus_ = start({"dbus-daemon", "--session", "--nofork", "--nopidfile", address_arg.c_str()},
                     workdir_ + "/bus.log");
        struct stat st {};
        ASSERT_TRUE(wait_until([&] { return stat(socket.c_str(), &st) == 0; }, 30s))
            << "the private bus did not start";
    }
    void TearDown() override {
        for (pid_t pid : {logind_, bus_}) {
            if (pid > 0) {
                kill(pid, SIGTERM);
                waitpid(pid, nullptr, 0);
            }
        }
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        E2eTest::TearDown();
    }
    void start_logind() {
        logind_ = start({"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"},
                        workdir_ + "/logind.log");
        ASSERT_TRUE(wait_until([] { return list_inhibitors().has_value(); }, 60s))
            << "the fake logind did not answer";
    }
    std::string address_;
    pid_t bus_ = -1;
    pid_t logind_ = -1;
};

TEST_F(KeepAwakeE2e, TakenForTheRunAndLetGoAfterAndDoneWithoutWhereLogindIsAbsent) {
    // A bus without logind: the run goes on exactly as ever.
    std::ofstream(workdir_ + "/config.txt") << "10 2 3\n";
    const E2eRun without = run_program(VANTEL_PATH, {});
    EXPECT_EQ(without.out, transcript("vantel-complete"));
    EXPECT_EQ(without.exit_status, 0);

    start_logind();
    std::atomic<bool> running{true};
    std::vector<Inhibitor> seen;
    std::thread watcher([&] {
        while (running) {
            if (const auto list = list_inhibitors(); list && !list->empty()) {
                seen = *list;
            }
            std::this_thread::sleep_for(10ms);
        }
    });
    const E2eRun with = run_program(BRISKO_PATH, {});
    running = false;
    watcher.join();
    EXPECT_EQ(with.out, transcript("brisko-complete"));
    EXPECT_EQ(with.exit_status, 0);
    EXPECT_EQ(seen,
              (std::vector<Inhibitor>{
                  {"sleep:idle", "brisko", "erasing the paging device's table memory", "block"}}));
    EXPECT_TRUE(wait_until([] { return list_inhibitors() == std::vector<Inhibitor>{}; }, 10s))
        << "the inhibitor outlived the run";
}

}  // namespace
