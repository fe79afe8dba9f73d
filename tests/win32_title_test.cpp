// The console title on Windows, seen through its seam: Wine's consoles show
// no title.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/title.h"
#include "title_win32.h"

namespace {

std::vector<std::string> titles_set;

DWORD WINAPI fake_get(LPSTR title, DWORD size) {
    const std::string before = "Command Prompt - brisko";
    lstrcpynA(title, before.c_str(), static_cast<int>(size));
    return static_cast<DWORD>(before.size());
}

BOOL WINAPI fake_set(LPCSTR title) {
    titles_set.push_back(title);
    return TRUE;
}

bool console() {
    return true;
}

TEST(ConsoleTitle, ShowsTheTimeLeftOnceASecondAndPutsTheOldTitleBack) {
    get_console_title = fake_get;
    set_console_title = fake_set;
    title_has_console = console;
    const std::int64_t second = 1000000;
    for (std::int64_t at : {0LL, second / 2, second, second * 3 / 2, second * 2 + 1}) {
        show_time_left("brisko", "clearing", static_cast<long>(at / 1000), 24750, 31 * 60000, at);
    }
    put_back_title();
    const std::vector<std::string> expected = {
        "brisko: clearing 0 of 24,750, about 31 min left",
        "brisko: clearing 1,000 of 24,750, about 31 min left",
        "brisko: clearing 2,000 of 24,750, about 31 min left",
        "Command Prompt - brisko",
    };
    EXPECT_EQ(titles_set, expected);
}

}  // namespace
