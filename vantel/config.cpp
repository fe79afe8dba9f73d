#include "config.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "console/console.h"

namespace {

// Most characters taken for one number: sign, prefix and digits together.
constexpr int kMaxNumberChars = 15;

constexpr int kEndOfText = -1;

// How much of the file is held at a time: the file may be of any length.
constexpr std::size_t kChunk = 64 * 1024;

// Walks the file's bytes as text: CR LF reads as a single LF, and a 1A byte
// (Ctrl-Z) ends the text. The bytes are either all in memory (`file` null)
// or read from `file` a chunk at a time into `buffer`, so that a file of any
// length is read whole in constant memory.
struct TextCursor {
    const unsigned char* pos;
    const unsigned char* end;
    std::FILE* file = nullptr;
    unsigned char* buffer = nullptr;  // kChunk bytes, when reading a file
    int read_error = 0;               // errno of a read that failed

    // Makes sure the two bytes at pos that peek() looks at are held, unless
    // the file ends first. Bytes already held move to the buffer's start.
    void fill() {
        if (file == nullptr || end - pos >= 2) {
            return;
        }
        const std::size_t held = static_cast<std::size_t>(end - pos);
        std::memmove(buffer, pos, held);
        pos = buffer;
        end = buffer + held;
        while (end - pos < 2) {
            const std::size_t got = std::fread(buffer + (end - pos), 1,
                                               kChunk - static_cast<std::size_t>(end - pos), file);
            if (got == 0) {
                read_error = std::ferror(file) != 0 ? (errno != 0 ? errno : EIO) : 0;
                file = nullptr;  // the end of the file, or a failed read
                return;
            }
            end += got;
        }
    }

    bool at_crlf() const { return pos[0] == '\r' && end - pos >= 2 && pos[1] == '\n'; }

    int peek() {
        fill();
        if (pos == end || *pos == 0x1A) {
            return kEndOfText;
        }
        return at_crlf() ? '\n' : *pos;
    }

    // Steps over the character peek() returned; only valid when it was not
    // kEndOfText.
    void advance() { pos += at_crlf() ? 2 : 1; }
};

bool is_space(int ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f';
}

// The value of `ch` as a digit of `base` (8, 10 or 16), or -1.
int digit_value(int ch, int base) {
    int value = -1;
    if (ch >= '0' && ch <= '9') {
        value = ch - '0';
    } else if (ch >= 'a' && ch <= 'f') {
        value = ch - 'a' + 10;
    } else if (ch >= 'A' && ch <= 'F') {
        value = ch - 'A' + 10;
    }
    return value < base ? value : -1;
}

enum class Scan {
    kValue,  // a number was read
    kWord,   // a word that is not a number stands in the value's place
    kEnd,    // the text ended before a value
};

// Clamps a magnitude with its sign into 32 bits.
std::int32_t clamp_to_int32(std::uint64_t magnitude, bool negative) {
    constexpr std::uint64_t kMaxPositive = INT32_MAX;
    constexpr std::uint64_t kMaxNegative = kMaxPositive + 1;
    if (negative) {
        if (magnitude >= kMaxNegative) {
            return INT32_MIN;
        }
        return -static_cast<std::int32_t>(magnitude);
    }
    if (magnitude >= kMaxPositive) {
        return INT32_MAX;
    }
    return static_cast<std::int32_t>(magnitude);
}

// Reads one value at the cursor, skipping the white space before it. On
// kValue, `value` holds the number and the cursor stands on the first
// character after it. On kWord and kEnd, `value` is left alone.
Scan scan_value(TextCursor& cursor, std::int32_t& value) {
    while (is_space(cursor.peek())) {
        cursor.advance();
    }
    if (cursor.peek() == kEndOfText) {
        return Scan::kEnd;
    }

    int taken = 0;
    bool negative = false;
    if (cursor.peek() == '+' || cursor.peek() == '-') {
        negative = cursor.peek() == '-';
        cursor.advance();
        ++taken;
    }

    int base = 10;
    bool have_digit = false;
    if (taken < kMaxNumberChars && cursor.peek() == '0') {
        cursor.advance();
        ++taken;
        if (taken < kMaxNumberChars && (cursor.peek() == 'x' || cursor.peek() == 'X')) {
            // The "0" belongs to the prefix: at least one hex digit must follow.
            cursor.advance();
            ++taken;
            base = 16;
        } else {
            base = 8;
            have_digit = true;
        }
    }

    // Magnitudes saturate just above 32 bits; anything there clamps anyway.
    constexpr std::uint64_t kSaturated = std::uint64_t{1} << 32;
    std::uint64_t magnitude = 0;
    while (taken < kMaxNumberChars) {
        const int digit = digit_value(cursor.peek(), base);
        if (digit < 0) {
            break;
        }
        magnitude =
            magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (magnitude > kSaturated) {
            magnitude = kSaturated;
        }
        cursor.advance();
        ++taken;
        have_digit = true;
    }
    if (!have_digit) {
        return Scan::kWord;
    }
    value = clamp_to_int32(magnitude, negative);
    return Scan::kValue;
}

struct SettingRule {
    const char* name;
    std::int32_t max;
    const char* over_limit;  // printf format of the message for a value over `max`
};

constexpr SettingRule kRules[3] = {
    {"pager", kPagerMax, "\n Error: pager = %d must be less 250"},
    {"table", kTableMax, "\n Error: table = %d must be less 99"},
    {"pager_to_table", kPagerToTableMax, "\n Error: pager_to_table = %d must be less 250"},
};

// Reads the three values at the cursor into a fresh result.
ConfigRead scan_values(TextCursor& cursor) {
    ConfigRead result{{0, 0, 0}, 0, true, ""};
    std::int32_t* const slots[3] = {&result.values.pager, &result.values.table,
                                    &result.values.pager_to_table};
    for (std::int32_t* slot : slots) {
        if (scan_value(cursor, *slot) != Scan::kValue) {
            break;
        }
        ++result.values_read;
    }
    return result;
}

ConfigRead refused(const std::string& reason) {
    return ConfigRead{{0, 0, 0}, 0, false, reason};
}

// Why a config.txt that is not a regular file is not read.
std::string not_a_file(std::filesystem::file_type type) {
    switch (type) {
        case std::filesystem::file_type::directory:
            return "it is a directory";
        case std::filesystem::file_type::fifo:
            return "it is a FIFO";
        case std::filesystem::file_type::character:
        case std::filesystem::file_type::block:
            return "it is a device";
        default:
            return "it is not a file";
    }
}

}  // namespace

ConfigRead parse_config(const unsigned char* data, std::size_t size) {
    if (data == nullptr) {
        return ConfigRead{{0, 0, 0}, 0, true, ""};
    }
    TextCursor cursor{data, data + size};
    return scan_values(cursor);
}

ConfigRead read_config() {
    // Only a regular file is read: opening a FIFO or a device of that name
    // could block for ever.
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status("config.txt", error);
    if (error) {
        return refused(error.message());
    }
    if (!std::filesystem::is_regular_file(status)) {
        return refused(not_a_file(status.type()));
    }
    std::FILE* file = std::fopen("config.txt", "rb");
    if (file == nullptr) {
        return refused(std::strerror(errno));
    }
    std::vector<unsigned char> buffer(kChunk);
    TextCursor cursor{buffer.data(), buffer.data(), file, buffer.data()};
    errno = 0;
    ConfigRead result = scan_values(cursor);
    std::fclose(file);
    // A file that cannot be read up to its third value is not half-read.
    if (cursor.read_error != 0) {
        return refused(std::strerror(cursor.read_error));
    }
    return result;
}

std::string config_error_message(const ConfigRead& config) {
    if (!config.opened && !config.reason.empty()) {
        return "\n Error: cannot read config.txt: " + config.reason;
    }
    if (!config.opened || config.values_read < 3) {
        const int first_unread = config.opened && config.values_read > 0 ? config.values_read : 0;
        return std::string("\n Error: cannot read ") + kRules[first_unread].name +
               " from config.txt";
    }
    const std::int32_t values[3] = {config.values.pager, config.values.table,
                                    config.values.pager_to_table};
    char message[96];
    for (int i = 0; i < 3; ++i) {
        const int value = values[i];
        if (value < 0) {
            std::snprintf(message, sizeof message, "\n Error: %s = %d must be 0 or more",
                          kRules[i].name, value);
            return message;
        }
        if (value > kRules[i].max) {
            std::snprintf(message, sizeof message, kRules[i].over_limit, value);
            return message;
        }
    }
    return "";
}

bool check_config(const ConfigRead& config) {
    const std::string message = config_error_message(config);
    if (message.empty()) {
        return true;
    }
    say("%s", message.c_str());
    wait_key();
    return false;
}
