// The console title on Windows, through a seam: Wine's consoles do not show
// a title, so a test puts its own functions here and sees the calls.
#pragma once

#include <windows.h>

using GetTitle = DWORD(WINAPI*)(LPSTR title, DWORD size);
using SetTitle = BOOL(WINAPI*)(LPCSTR title);
extern GetTitle get_console_title;  // GetConsoleTitleA unless a test put another
extern SetTitle set_console_title;  // SetConsoleTitleA unless a test put another
// Whether standard output is a console: stdout_is_console unless a test put another.
extern bool (*title_has_console)();
