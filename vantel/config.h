// The configuration file "config.txt": reading its three settings and
// checking them against the device's limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The three settings, in file order.
struct ConfigValues {
    std::int32_t pager;
    std::int32_t table;
    std::int32_t pager_to_table;
};

// Largest value each setting may have; the next one up is rejected.
inline constexpr std::int32_t kPagerMax = 250;
inline constexpr std::int32_t kTableMax = 99;
inline constexpr std::int32_t kPagerToTableMax = 250;

// The outcome of reading the file.
//
// `values_read` counts the settings read, in file order (0..3): a setting
// that is not counted and every setting after it hold 0. `opened` is false
// when "config.txt" could not be opened and read as a file (a directory of
// that name, say); `values_read` is then 0, and `reason` holds the system's
// reason ("Permission denied") when the system refused to open or read it,
// or what it is when it is no file ("it is a directory", "it is a FIFO",
// "it is a device").
struct ConfigRead {
    ConfigValues values;
    int values_read;
    bool opened;
    std::string reason;
};

// Reads up to three integers from the bytes of a configuration file. Pure:
// touches nothing but `data[0..size)`, and reads nothing after the third
// value. `data` may be null when `size` is 0. The result has `opened` true.
//
// The bytes are read as text the same way on every platform: CR LF reads as
// one LF, a lone CR is white space, and a 1A byte ends the text. Before each
// value, white space (space, tab, LF, CR, VT, FF) is skipped. A value is an
// optional sign as its very first character, then "0x"/"0X" and hexadecimal
// digits, or "0" and octal digits, or decimal digits. A value ends at the
// first character that cannot continue it, or after 15 characters (sign,
// prefix and digits together); the next read begins there. Values beyond
// 32 bits clamp to INT32_MAX or INT32_MIN and still count as read.
//
// Reading stops, without counting the value, at the end of the text, or at a
// word that is not a number: a character that cannot begin one (NUL and bytes
// 80..FF included), or a sign or "0x" prefix with no digit of its base after
// it. Such a value holds 0.
ConfigRead parse_config(const unsigned char* data, std::size_t size);

// True when anything named "config.txt" exists in the current working
// directory: a regular file, a directory or any other kind of object. Any
// failure of the test counts as missing.
bool config_exists();

// Opens "config.txt" in the current working directory in binary mode, reads
// it as parse_config does, up to its third value however far into the file
// that lies, in constant memory, and closes it. The file is open only inside
// this call. When it is not a regular file, or the system refuses to open or
// read it, returns `opened` false, no values read, and the system's reason.
ConfigRead read_config();

// The message check_config prints for `config`, or "" when every setting was
// read and lies within 0..its maximum. The checks apply in this order and only
// the first failure yields a message:
//  1. a file the system refused to open or read, or something other than a
//     file: "\n Error: cannot read config.txt: <reason>"; a setting that was not read: "\n Error:
//     cannot read <name> from config.txt", naming the first setting not read;
//  2. for pager, table and pager_to_table in turn, each checked fully before
//     the next: a negative value, "\n Error: <name> = %d must be 0 or more",
//     then a value over the maximum, "\n Error: pager = %d must be less 250",
//     "\n Error: table = %d must be less 99" or
//     "\n Error: pager_to_table = %d must be less 250".
std::string config_error_message(const ConfigRead& config);

// Checks `config` as config_error_message describes. Returns true when every
// setting passes. On the first failure, prints its message with one print,
// then prompts and waits for a key (wait_key) and returns false; the caller
// then ends the run with exit status 1.
bool check_config(const ConfigRead& config);
