// The console title on Windows: the console window's own, through
// GetConsoleTitle and SetConsoleTitle.
#include <windows.h>

#include <string>

#include "console/console.h"
#include "title_platform.h"
#include "title_win32.h"

GetTitle get_console_title = GetConsoleTitleA;
SetTitle set_console_title = SetConsoleTitleA;
bool (*title_has_console)() = stdout_is_console;

namespace {

std::string kept;

}  // namespace

bool title_keep() {
    if (!title_has_console()) {
        return false;
    }
    char title[1024] = {};
    // An empty title reads as 0 with no error; a failure leaves nothing to change.
    SetLastError(ERROR_SUCCESS);
    const DWORD length = get_console_title(title, sizeof title);
    if (length == 0 && GetLastError() != ERROR_SUCCESS) {
        return false;
    }
    kept = title;
    return true;
}

void title_set(const char* text) {
    set_console_title(text);
}

void title_restore() {
    set_console_title(kept.c_str());
}
