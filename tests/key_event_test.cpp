#include <gtest/gtest.h>

#include "key_event_win32.h"

namespace {

INPUT_RECORD key(WORD code, char ch, bool down = true) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.wVirtualKeyCode = code;
    record.Event.KeyEvent.uChar.AsciiChar = ch;
    return record;
}

struct KeyCase {
    const char* what;
    INPUT_RECORD record;
    bool ends;
};

TEST(KeyEvent, WhichEventsEndTheWait) {
    INPUT_RECORD mouse{};
    mouse.EventType = MOUSE_EVENT;
    INPUT_RECORD focus{};
    focus.EventType = FOCUS_EVENT;
    INPUT_RECORD size{};
    size.EventType = WINDOW_BUFFER_SIZE_EVENT;

    const KeyCase cases[] = {
        {"letter", key('A', 'a'), true},
        {"letter released", key('A', 'a', false), false},
        {"Ctrl+C", key('C', '\x03'), true},
        {"Enter", key(VK_RETURN, '\r'), true},
        {"Esc with its character", key(VK_ESCAPE, '\x1b'), true},
        {"Esc without a character", key(VK_ESCAPE, 0), true},
        {"letter without a character", key('Q', 0), true},
        {"keypad digit without a character", key(VK_NUMPAD5, 0), true},
        {"dead key", key(VK_OEM_6, 0), true},
        {"character from no key", key(0, 'x'), true},
        {"F1", key(VK_F1, 0), true},
        {"F12", key(VK_F12, 0), true},
        {"up arrow", key(VK_UP, 0), true},
        {"left arrow", key(VK_LEFT, 0), true},
        {"Home", key(VK_HOME, 0), true},
        {"End", key(VK_END, 0), true},
        {"Page Up", key(VK_PRIOR, 0), true},
        {"Page Down", key(VK_NEXT, 0), true},
        {"Insert", key(VK_INSERT, 0), true},
        {"Delete", key(VK_DELETE, 0), true},
        {"arrow released", key(VK_DOWN, 0, false), false},
        {"Shift", key(VK_SHIFT, 0), false},
        {"right Shift", key(VK_RSHIFT, 0), false},
        {"Ctrl", key(VK_CONTROL, 0), false},
        {"Alt", key(VK_MENU, 0), false},
        {"Caps Lock", key(VK_CAPITAL, 0), false},
        {"Num Lock", key(VK_NUMLOCK, 0), false},
        {"Scroll Lock", key(VK_SCROLL, 0), false},
        {"Windows key", key(VK_LWIN, 0), false},
        {"F13", key(VK_F13, 0), false},
        {"unknown key, no character", key(0, 0), false},
        {"mouse", mouse, false},
        {"focus", focus, false},
        {"window size", size, false},
    };
    for (const KeyCase& c : cases) {
        EXPECT_EQ(ends_key_wait(c.record), c.ends) << c.what;
    }
}

// Only a console host's own window, hidden, with no terminal or agent that
// forwards keys (mintty without ConPTY) ends the wait at once. Windows
// Terminal's and ConPTY's hidden windows, Wine's, a minimised window and
// winpty's hidden console wait for the key.
TEST(KeyEvent, WhichConsolesNoKeyReaches) {
    const struct {
        const char* what;
        ConsoleFacts facts;
        bool reached;
    } cases[] = {
        {"mintty without ConPTY", {true, false, "ConsoleWindowClass", false, false}, false},
        {"console window, minimised or not",
         {true, true, "ConsoleWindowClass", false, false},
         true},
        {"Windows Terminal", {true, false, "PseudoConsoleWindow", true, false}, true},
        {"ConPTY", {true, false, "PseudoConsoleWindow", false, false}, true},
        {"WT_SESSION on a hidden host", {true, false, "ConsoleWindowClass", true, false}, true},
        {"winpty", {true, false, "ConsoleWindowClass", false, true}, true},
        {"Wine on a terminal", {true, false, "WineConsoleClass", false, false}, true},
        {"no window", {false, false, "", false, false}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(console_reaches_keys(c.facts), c.reached) << c.what;
    }
}
}  // namespace
