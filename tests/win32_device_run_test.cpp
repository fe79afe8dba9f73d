// The hold on the system and the console for a run on Windows, seen through
// the table of calls (Wine shows none of their effects): each call made with
// its flags, refusals done without, everything undone on every way out, and
// the key prompt kept for a console of the program's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "console/console.h"
#include "console/device_run.h"
#include "console/process.h"
#include "device_run_platform.h"
#include "run_calls_win32.h"

namespace {

// What the fake system answers.
struct Answers {
    bool has_set_process_information = true;
    ULONG throttling_known = 0x5;  // the kinds the system takes (Windows 11)
    bool has_console = true;
    // A new conhost window's input mode: QuickEdit and insert on.
    DWORD input_mode = 0x1f7;
    DWORD console_processes = 2;
    bool output_on_console = true;
};

Answers answers;
std::string seen;  // the calls made, in order
const HANDLE kInput = reinterpret_cast<HANDLE>(0x5a);

// Notes a call; on standard error too, for the run that ends the process.
void note(const char* format, ...) {
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    seen += text;
    std::fputs(text, stderr);
    std::fflush(stderr);
}

EXECUTION_STATE WINAPI fake_execution_state(EXECUTION_STATE state) {
    note("awake %lx;", static_cast<unsigned long>(state));
    return ES_CONTINUOUS;
}
BOOL WINAPI fake_process_information(HANDLE process, int kind, LPVOID info, DWORD size) {
    const auto* state = static_cast<const PowerThrottlingState*>(info);
    note("throttling %s %d v%lu control %lx state %lx size %lu;",
         process == GetCurrentProcess() ? "self" : "other", kind, state->version,
         state->control_mask, state->state_mask, static_cast<unsigned long>(size));
    return (state->control_mask & ~answers.throttling_known) == 0;
}
HANDLE fake_open() {
    note("open;");
    return answers.has_console ? kInput : INVALID_HANDLE_VALUE;
}
BOOL WINAPI fake_close(HANDLE handle) {
    note("close %s;", handle == kInput ? "input" : "other");
    return TRUE;
}
BOOL WINAPI fake_get_mode(HANDLE, LPDWORD mode) {
    *mode = answers.input_mode;
    return TRUE;
}
BOOL WINAPI fake_set_mode(HANDLE handle, DWORD mode) {
    note("mode %s %lx;", handle == kInput ? "input" : "other", static_cast<unsigned long>(mode));
    return TRUE;
}
DWORD WINAPI fake_process_list(LPDWORD, DWORD) {
    return answers.console_processes;
}
bool fake_output_on_console() {
    return answers.output_on_console;
}
// What wait_key does first, then the prompt itself.
void fake_key_prompt() {
    note_key_prompt();
    note("prompt;");
}

const std::string kThrottlingOff = "throttling self 4 v1 control 5 state 0 size 12;";
const std::string kSpeedOnly = "throttling self 4 v1 control 1 state 0 size 12;";
const std::string kThrottlingBack = "throttling self 4 v1 control 0 state 0 size 12;";
const std::string kHeld = kThrottlingOff + "open;mode input 1b7;awake 80000001;";
const std::string kLetGo = "awake 80000000;mode input 1f7;close input;" + kThrottlingBack;

class DeviceRunWin32 : public ::testing::Test {
  protected:
    void SetUp() override {
        system_calls_ = run_calls();
        answers = Answers{};
        seen.clear();
        RunCalls& calls = run_calls();
        calls.set_thread_execution_state = fake_execution_state;
        calls.set_process_information = fake_process_information;
        calls.open_console_input = fake_open;
        calls.close_handle = fake_close;
        calls.get_console_mode = fake_get_mode;
        calls.set_console_mode = fake_set_mode;
        calls.get_console_process_list = fake_process_list;
        calls.output_on_console = fake_output_on_console;
        calls.key_prompt = fake_key_prompt;
    }
    void TearDown() override {
        release_device_run();
        run_calls() = system_calls_;
    }
    // Begins a run; what it called.
    std::string begin() {
        seen.clear();
        begin_device_run("brisko", "erasing");
        return seen;
    }
    RunCalls system_calls_{};
};

TEST_F(DeviceRunWin32, TheSystemsLookupsAreThere) {
    EXPECT_NE(system_calls_.set_process_information, nullptr);
    EXPECT_EQ(system_calls_.key_prompt, &wait_key);
}

TEST_F(DeviceRunWin32, HeldForTheRunAndEachPartLetGoAsTakenWhateverTheSystemRefuses) {
    struct Case {
        const char* name;
        void (*system)(Answers&);
        std::string held;
        std::string let_go;
    } cases[] = {
        {"all taken", [](Answers&) {}, kHeld, kLetGo},
        {"no SetProcessInformation (Windows 7)",
         [](Answers& a) { a.has_set_process_information = false; },
         "open;mode input 1b7;awake 80000001;", "awake 80000000;mode input 1f7;close input;"},
        {"timer resolution unknown (Windows 10)", [](Answers& a) { a.throttling_known = 0x1; },
         kThrottlingOff + kSpeedOnly + "open;mode input 1b7;awake 80000001;", kLetGo},
        {"throttling refused (Windows 8)", [](Answers& a) { a.throttling_known = 0; },
         kThrottlingOff + kSpeedOnly + "open;mode input 1b7;awake 80000001;",
         "awake 80000000;mode input 1f7;close input;"},
        {"QuickEdit already off", [](Answers& a) { a.input_mode = 0x1b7; },
         kThrottlingOff + "open;close input;awake 80000001;", "awake 80000000;" + kThrottlingBack},
        {"no console", [](Answers& a) { a.has_console = false; },
         kThrottlingOff + "open;awake 80000001;", "awake 80000000;" + kThrottlingBack},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        answers = Answers{};
        c.system(answers);
        run_calls().set_process_information =
            answers.has_set_process_information ? fake_process_information : nullptr;
        EXPECT_EQ(begin(), c.held);
        seen.clear();
        release_device_run();
        EXPECT_EQ(seen, c.let_go);
        seen.clear();
        release_device_run();
        EXPECT_EQ(seen, "") << "let go twice";
    }
}

TEST_F(DeviceRunWin32, TheKeyPromptAndTheEndOfMainLetGo) {
    for (void (*way_out)() : {&fake_key_prompt, &end_device_run}) {
        ASSERT_EQ(begin(), kHeld);
        seen.clear();
        way_out();
        EXPECT_EQ(seen.substr(0, kLetGo.size()), kLetGo);
    }
}

TEST_F(DeviceRunWin32, AnInterruptedRunLetsGoAsItEnds) {
    EXPECT_EXIT(
        {
            begin();
            request_interrupt(CTRL_C_EVENT);
            end_if_interrupted();
        },
        ::testing::ExitedWithCode(static_cast<int>(STATUS_CONTROL_C_EXIT)), kLetGo);
}

TEST_F(DeviceRunWin32, TheEndOfMainPromptsOnlyInAConsoleOfItsOwnThatHasNotPromptedYet) {
    struct Case {
        const char* name;
        DWORD console_processes;
        bool output_on_console;
        bool run_prompted;
        bool prompt;
    } cases[] = {
        {"double-clicked", 1, true, false, true},
        {"double-clicked, the run prompted", 1, true, true, false},
        {"in a Command Prompt", 2, true, false, false},
        {"output redirected", 1, false, false, false},
        {"no console list (older Wine)", 0, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        answers.console_processes = c.console_processes;
        answers.output_on_console = c.output_on_console;
        begin();
        if (c.run_prompted) {
            fake_key_prompt();
        }
        seen.clear();
        end_device_run();
        EXPECT_EQ(seen.find("prompt;") != std::string::npos, c.prompt);
    }
}

}  // namespace
