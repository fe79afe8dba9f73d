// The console on Windows: the console test for standard output and the key
// wait on the console keyboard.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <vector>

#include "console/console.h"
#include "console/process.h"
#include "console/title.h"
#include "device_run_platform.h"
#include "interrupt_win32.h"
#include "key_event_win32.h"

namespace {

bool is_modifier_or_lock(WORD key) {
    switch (key) {
        case VK_SHIFT:
        case VK_LSHIFT:
        case VK_RSHIFT:
        case VK_CONTROL:
        case VK_LCONTROL:
        case VK_RCONTROL:
        case VK_MENU:
        case VK_LMENU:
        case VK_RMENU:
        case VK_CAPITAL:
        case VK_NUMLOCK:
        case VK_SCROLL:
            return true;
        default:
            return false;
    }
}

// Keys that yield a character on a plain keyboard.
bool is_character_key(WORD key) {
    return (key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z') ||
           (key >= VK_NUMPAD0 && key <= VK_DIVIDE) || (key >= VK_OEM_1 && key <= VK_OEM_3) ||
           (key >= VK_OEM_4 && key <= VK_OEM_8) || key == VK_OEM_102 || key == VK_SPACE ||
           key == VK_RETURN || key == VK_TAB || key == VK_BACK || key == VK_ESCAPE;
}

// Keys with an extended key code. The keypad's cursor keys (Num Lock off)
// report the same virtual-key codes as the main block.
bool is_extended_key(WORD key) {
    return (key >= VK_F1 && key <= VK_F12) || (key >= VK_PRIOR && key <= VK_DOWN) ||
           key == VK_INSERT || key == VK_DELETE;
}

// Signalled when Ctrl+C or Ctrl+Break reaches the process as a control
// signal during the key wait. A Windows console delivers Ctrl+C as a key
// once processed input is off, but some hosts (Wine on a terminal) still
// raise the signal; either way it ends the wait like a key.
HANDLE key_break_event = nullptr;

BOOL WINAPI break_ends_key_wait(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        SetEvent(key_break_event);
        return TRUE;
    }
    return FALSE;
}

// Blocks until a key press that ends the wait, an interruption (the console
// window closed), or until the console cannot be read any more.
void wait_for_key_press(HANDLE input) {
    HANDLE waits[3] = {input};
    DWORD wait_count = 1;
    for (HANDLE other : {key_break_event, interrupt_event()}) {
        if (other != nullptr) {
            waits[wait_count++] = other;
        }
    }
    for (;;) {
        if (interrupt_requested()) {
            return;
        }
        // The input handle is signalled while events are queued, so this
        // sleeps until there is something to read.
        if (WaitForMultipleObjects(wait_count, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
            return;  // Ctrl+C or Ctrl+Break as a signal, or a failed wait
        }
        INPUT_RECORD record;
        DWORD got = 0;
        if (!ReadConsoleInputA(input, &record, 1, &got) || got == 0 || ends_key_wait(record)) {
            return;
        }
    }
}

// True when a process attached to this console, other than this one, is a
// program that types the keys of a terminal into a hidden console.
bool key_agent_attached() {
    DWORD ids[64];
    const DWORD count = GetConsoleProcessList(ids, 64);
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (ids[i] == GetCurrentProcessId()) {
            continue;
        }
        const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ids[i]);
        if (process == nullptr) {
            continue;
        }
        wchar_t path[MAX_PATH];
        DWORD length = MAX_PATH;
        const bool named = QueryFullProcessImageNameW(process, 0, path, &length) != 0;
        CloseHandle(process);
        const wchar_t* name = named ? std::wcsrchr(path, L'\\') : nullptr;
        name = name == nullptr ? path : name + 1;
        if (named &&
            (_wcsnicmp(name, L"winpty-agent", 12) == 0 || _wcsnicmp(name, L"ConEmuC", 7) == 0)) {
            return true;
        }
    }
    return false;
}

ConsoleFacts console_facts() {
    ConsoleFacts facts;
    const HWND window = GetConsoleWindow();
    static char window_class[64];
    window_class[0] = '\0';
    facts.has_window = window != nullptr;
    if (facts.has_window) {
        facts.visible = IsWindowVisible(window) != 0;
        GetClassNameA(window, window_class, sizeof window_class);
    }
    facts.window_class = window_class;
    facts.terminal_session =
        std::getenv("WT_SESSION") != nullptr || std::getenv("ConEmuPID") != nullptr;
    // Looking through the attached processes costs a round trip each: only
    // for the one console that may need it.
    facts.key_agent = facts.has_window && !facts.visible && !facts.terminal_session &&
                      std::strcmp(window_class, "ConsoleWindowClass") == 0 && key_agent_attached();
    return facts;
}

}  // namespace

bool console_reaches_keys(const ConsoleFacts& facts) {
    return !facts.has_window || facts.visible || facts.terminal_session || facts.key_agent ||
           std::strcmp(facts.window_class, "ConsoleWindowClass") != 0;
}

bool ends_key_wait(const INPUT_RECORD& record) {
    if (record.EventType != KEY_EVENT) {
        return false;
    }
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (!key.bKeyDown) {
        return false;
    }
    const WORD code = key.wVirtualKeyCode;
    if (is_modifier_or_lock(code)) {
        return false;
    }
    return key.uChar.AsciiChar != 0 || is_character_key(code) || is_extended_key(code);
}

bool stdout_is_console() {
    // The NUL device is a character device too, but has no console mode.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void put_text(const char* text) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    const int wide_size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (!GetConsoleMode(output, &mode) || wide_size <= 1) {
        std::fputs(text, stdout);
        return;
    }
    std::fflush(stdout);
    std::vector<wchar_t> wide(static_cast<std::size_t>(wide_size));
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), wide_size);
    const wchar_t* left = wide.data();
    DWORD count = static_cast<DWORD>(wide_size - 1);
    DWORD written = 0;
    while (count > 0 && WriteConsoleW(output, left, count, &written, nullptr) && written > 0) {
        left += written;
        count -= written;
    }
}

void wait_key() {
    // The machine may sleep while the prompt waits.
    note_key_prompt();
    // An interrupted run ends without a prompt.
    if (interrupt_requested()) {
        return;
    }
    put_back_title();
    // The console's own input, whatever standard input has been redirected to.
    const HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD saved_mode = 0;
    const bool waits = input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &saved_mode) &&
                       console_reaches_keys(console_facts());
    if (waits) {
        // Raw for the wait, and before the prompt shows, so that a Ctrl+C
        // typed the moment it does is a key: no echo, no line editing, and
        // Ctrl+C arrives as a key instead of ending the process. Keys come as
        // key events, not as the escape sequences another program may have
        // asked for: an arrow would otherwise end the wait with its ESC and
        // leave "[A" for the shell. Changing the mode keeps the events that
        // are already queued, so a key pressed earlier ends the wait at once.
        SetConsoleMode(
            input, saved_mode &
                       ~static_cast<DWORD>(ENABLE_ECHO_INPUT | ENABLE_LINE_INPUT |
                                           ENABLE_PROCESSED_INPUT | ENABLE_VIRTUAL_TERMINAL_INPUT));
        // The event lives as long as the process, so a handler still running
        // after the wait never touches a closed handle.
        if (key_break_event == nullptr) {
            key_break_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        }
        if (key_break_event != nullptr) {
            ResetEvent(key_break_event);
            SetConsoleCtrlHandler(break_ends_key_wait, TRUE);
        }
    }
    say("\nPress any key ...");
    std::fflush(stdout);
    if (!waits) {
        if (input != INVALID_HANDLE_VALUE) {
            CloseHandle(input);
        }
        return;
    }

    wait_for_key_press(input);

    if (key_break_event != nullptr) {
        SetConsoleCtrlHandler(break_ends_key_wait, FALSE);
    }
    SetConsoleMode(input, saved_mode);
    CloseHandle(input);
}
