// The console on Windows: the console test for standard output and the key
// wait on the console keyboard.
#include <windows.h>

#include <cstdio>
#include <initializer_list>

#include "console/console.h"
#include "console/process.h"
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

}  // namespace

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

void wait_key() {
    // The machine may sleep while the prompt waits.
    note_key_prompt();
    // An interrupted run ends without a prompt.
    if (interrupt_requested()) {
        return;
    }
    say("\nPress any key ...");
    std::fflush(stdout);

    // The console's own input, whatever standard input has been redirected to.
    const HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD saved_mode = 0;
    if (!GetConsoleMode(input, &saved_mode)) {
        CloseHandle(input);
        return;
    }
    // Raw for the wait: no echo, no line editing, and Ctrl+C arrives as a key
    // instead of ending the process. Keys come as key events, not as the
    // escape sequences another program may have asked for: an arrow would
    // otherwise end the wait with its ESC and leave "[A" for the shell.
    // Changing the mode keeps the events that are already queued, so a key
    // pressed earlier ends the wait at once.
    SetConsoleMode(input, saved_mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT | ENABLE_LINE_INPUT |
                                                           ENABLE_PROCESSED_INPUT |
                                                           ENABLE_VIRTUAL_TERMINAL_INPUT));

    // The event lives as long as the process, so a handler still running
    // after the wait never touches a closed handle.
    if (key_break_event == nullptr) {
        key_break_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    if (key_break_event != nullptr) {
        ResetEvent(key_break_event);
        SetConsoleCtrlHandler(break_ends_key_wait, TRUE);
    }

    wait_for_key_press(input);

    if (key_break_event != nullptr) {
        SetConsoleCtrlHandler(break_ends_key_wait, FALSE);
    }
    SetConsoleMode(input, saved_mode);
    CloseHandle(input);
}
