// Which console input events end the key wait on Windows, kept apart from the
// wait itself so that it can be tested without a keyboard.
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
