#include <string>

#include "console/title.h"
#include "title_platform.h"

namespace {

constexpr std::int64_t kTitleEveryUs = 1000000;

enum class Title { kUntouched, kShown, kNone };
Title title = Title::kUntouched;
std::int64_t shown_at_us = 0;

// 24750 as "24,750".
std::string with_commas(long n) {
    const std::string digits = std::to_string(n < 0 ? -n : n);
    std::string out = n < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

}  // namespace

std::string time_left_text(const char* program, const char* step, long done, long total,
                           std::int64_t ms_left) {
    const std::int64_t minutes = (ms_left + 30000) / 60000;
    const std::string left =
        minutes < 1 ? "less than a minute left" : "about " + std::to_string(minutes) + " min left";
    return std::string(program) + ": " + step + " " + with_commas(done) + " of " +
           with_commas(total) + ", " + left;
}

void show_time_left(const char* program, const char* step, long done, long total,
                    std::int64_t ms_left, std::int64_t now_us) {
    if (title == Title::kNone || (title == Title::kShown && now_us - shown_at_us < kTitleEveryUs)) {
        return;
    }
    if (title == Title::kUntouched) {
        title = title_keep() ? Title::kShown : Title::kNone;
        if (title == Title::kNone) {
            return;
        }
    }
    title_set(time_left_text(program, step, done, total, ms_left).c_str());
    shown_at_us = now_us;
}

void put_back_title() {
    if (title == Title::kShown) {
        title_restore();
    }
    title = Title::kUntouched;
}
