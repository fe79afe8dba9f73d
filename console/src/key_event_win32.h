// Which console input events end the key wait on Windows, and which consoles
// no key reaches, kept apart from the wait itself so that they can be tested
// without a keyboard.
#pragma once

#include <windows.h>

// True when `record` is a key going down that counts as a key press:
// - Shift, Ctrl, Alt, Caps Lock, Num Lock and Scroll Lock never count;
// - a key that yields a character counts (Ctrl+C included);
// - so do the keys that yield one on a plain keyboard (letters, digits,
//   punctuation, Space, Enter, Tab, Backspace, Esc and the keypad's digits
//   and operators), since some hosts deliver them with no character;
// - and so do F1..F12, the arrows, Home, End, Page Up, Page Down, Insert and
//   Delete, in their main and keypad forms.
// Anything else (key releases, mouse, focus, size and menu events, the
// Windows and Menu keys, Print Screen, Pause) is skipped.
bool ends_key_wait(const INPUT_RECORD& record);

// What can be told about the console the key wait would read.
struct ConsoleFacts {
    bool has_window = false;        // GetConsoleWindow() gave one
    bool visible = false;           // IsWindowVisible: shown, minimised included
    const char* window_class = "";  // its class name
    bool terminal_session = false;  // WT_SESSION or ConEmuPID is set
    bool key_agent = false;         // a program that types into hidden consoles (winpty-agent,
                                    // ConEmuC) is attached to it
};

// False for a console no key can reach: a console host's own window
// ("ConsoleWindowClass") that is hidden, with no terminal that forwards keys
// to it, as mintty without ConPTY (Git Bash's default) gives its programs.
// A pseudo-console's window (ConPTY, Windows Terminal) is hidden by design
// and is reached; so is one without a window, or Wine's.
bool console_reaches_keys(const ConsoleFacts& facts);
