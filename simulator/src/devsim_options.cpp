#include "simulator/devsim_options.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

// The --help text before the options and after them.
const char kUsageStart[] =
    "Usage: devsim [OPTIONS] [--log FILE] -- PROGRAM [ARGS...]\n"
    "       devsim [OPTIONS] --serve [--link PATH]\n"
    "\n"
    "Plays the paging device on a pseudo-terminal.\n"
    "\n"
    "With PROGRAM: runs PROGRAM with a private /dev in which the simulated device\n"
    "is /dev/ttyUSB0 (COM33) and no other serial port exists. PROGRAM keeps\n"
    "devsim's standard input, output, error, terminal and working directory;\n"
    "devsim exits with PROGRAM's exit status (128+N when killed by signal N).\n"
    "Needs a mount namespace: run as root, or where user namespaces are allowed.\n"
    "\n"
    "With --serve: plays the device until SIGINT or SIGTERM and prints the pty's\n"
    "path on standard output; bytes are logged to standard error by default.\n"
    "\n"
    "The device answers FF (sync) with FF, F6/F8/FA with the pager, table and\n"
    "pager_to_table settings, F5/F7/F9 v store v, F0 t e 00 clears entry e of\n"
    "table t, F1 t e answers 00 when that entry is clear and 01 when not. At\n"
    "start no entry is clear; entries outside tables 1..table and entries\n"
    "0..pager_to_table-1 never are. Other bytes where a command is due are\n"
    "ignored.\n";

const char kUsageEnd[] =
    "\n"
    "Exit status: PROGRAM's; 2 for a bad command line; 71 when a pty, process or\n"
    "the log file could not be made; 77 when no private /dev could be made (no\n"
    "namespace allowed); 127 when PROGRAM could not be started.\n";

// Parses all of `text` as a decimal number in lo..hi.
bool parse_int(const std::string& text, int lo, int hi, int* value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    int result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + (c - '0');
    }
    if (result < lo || result > hi) {
        return false;
    }
    *value = result;
    return true;
}

bool parse_hex_byte(std::string text, int* value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text = text.substr(2);
    }
    if (text.empty() || text.size() > 2) {
        return false;
    }
    int result = 0;
    for (char c : text) {
        const char* digits = "0123456789abcdef";
        const char lower = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
        const char* at = std::strchr(digits, lower);
        if (lower == '\0' || at == nullptr) {
            return false;
        }
        result = result * 16 + static_cast<int>(at - digits);
    }
    *value = result;
    return true;
}

// "1,5,7-9" -> 1 5 7 8 9.
bool parse_sync_list(const std::string& text, std::vector<int>* list) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma - start);
        const std::size_t dash = item.find('-');
        int lo = 0;
        int hi = 0;
        if (dash == std::string::npos) {
            if (!parse_int(item, 1, 1000000, &lo)) {
                return false;
            }
            hi = lo;
        } else if (!parse_int(item.substr(0, dash), 1, 1000000, &lo) ||
                   !parse_int(item.substr(dash + 1), 1, 1000000, &hi) || hi < lo ||
                   hi - lo > 10000) {
            return false;
        }
        for (int n = lo; n <= hi; ++n) {
            list->push_back(n);
        }
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

bool parse_entry(const std::string& text, EntryAddress* entry) {
    const std::size_t colon = text.find(':');
    return colon != std::string::npos && parse_int(text.substr(0, colon), 0, 255, &entry->table) &&
           parse_int(text.substr(colon + 1), 0, 255, &entry->entry);
}

// The setters of the options that only store a number or raise a flag.
template <int DeviceKnobs::*knob, int lo, int hi>
bool knob_number(const std::string& value, DevsimOptions* o) {
    return parse_int(value, lo, hi, &(o->knobs.*knob));
}
template <bool DeviceKnobs::*knob>
bool knob_flag(const std::string&, DevsimOptions* o) {
    o->knobs.*knob = true;
    return true;
}
template <bool DevsimOptions::*mode>
bool mode_flag(const std::string&, DevsimOptions* o) {
    o->*mode = true;
    return true;
}

// Every option, in the order --help lists them, under headings (the entries
// without a name). `value` names the option's value in --help; an option
// without one is a flag. `set` stores the value, returning false for one it
// cannot take, when `expected` says what it wants instead.
struct Option {
    const char* name;
    const char* value;
    const char* help;  // its lines in --help, '\n' between them
    const char* expected;
    bool (*set)(const std::string& value, DevsimOptions* o);
};

const Option kOptions[] = {
    {nullptr, nullptr, "Where the device is:", nullptr, nullptr},
    {"--absent", nullptr, "attach no device: /dev holds no serial port at all", nullptr,
     mode_flag<&DevsimOptions::absent>},
    {"--silent-ports", "N",
     "put N ports that never answer first (ttyUSB0..N-1);\n"
     "the device is then ttyUSB<N>, COM<33+N>; N <= 31",
     "0..31",
     [](const std::string& v, DevsimOptions* o) {
         return parse_int(v, 0, kMaxSilentPorts, &o->silent_ports);
     }},
    {"--serve", nullptr, "no PROGRAM: serve the device on a pty until stopped", nullptr,
     mode_flag<&DevsimOptions::serve>},
    {"--link", "PATH",
     "with --serve: make PATH a symlink to the pty\n"
     "(removed on exit), e.g. a Wine dosdevices/com33 entry",
     "a path",
     [](const std::string& v, DevsimOptions* o) {
         o->link = v;
         return !v.empty();
     }},

    {nullptr, nullptr, "Device settings at power on (0..255):", nullptr, nullptr},
    {"--pager", "N", "the pager setting (default 10)", "0..255",
     knob_number<&DeviceKnobs::pager, 0, 255>},
    {"--tables", "N", "the table setting: number of tables (default 2)", "0..255",
     knob_number<&DeviceKnobs::table, 0, 255>},
    {"--entries", "N",
     "the pager_to_table setting: entries per table\n"
     "(default 3)",
     "0..255", knob_number<&DeviceKnobs::pager_to_table, 0, 255>},

    {nullptr, nullptr, "Faults:", nullptr, nullptr},
    {"--echo-syncs", "LIST",
     "answer only these syncs, counted from 1 since start;\n"
     "LIST is numbers and ranges such as 1,5,7-9",
     "sync numbers from 1, such as 1,5,7-9",
     [](const std::string& v, DevsimOptions* o) {
         o->knobs.echo_syncs.clear();
         return parse_sync_list(v, &o->knobs.echo_syncs);
     }},
    {"--echo-every", "N", "answer only every Nth sync (N, 2N, ...)", "a number from 1",
     knob_number<&DeviceKnobs::echo_every, 1, 1000000>},
    {"--sync-reply", "HEX", "answer syncs with this byte instead of FF, e.g. 55",
     "a hexadecimal byte 00..FF",
     [](const std::string& v, DevsimOptions* o) {
         int byte = 0;
         if (!parse_hex_byte(v, &byte)) {
             return false;
         }
         o->knobs.sync_reply = static_cast<std::uint8_t>(byte);
         return true;
     }},
    {"--silent-after-sync", nullptr, "answer syncs, and nothing else", nullptr,
     knob_flag<&DeviceKnobs::silent_after_sync>},
    {"--local-echo", nullptr,
     "give back every byte received at once, before any\n"
     "reply, as an adapter with local echo does",
     nullptr, knob_flag<&DeviceKnobs::local_echo>},
    {"--reply-delay", "MS",
     "send every reply but the sync echo MS milliseconds\n"
     "late (0..60000)",
     "milliseconds 0..60000", knob_number<&DeviceKnobs::reply_delay_ms, 0, 60000>},
    {"--sync-delay", "MS", "send each sync echo MS milliseconds late (0..60000)",
     "milliseconds 0..60000", knob_number<&DeviceKnobs::sync_delay_ms, 0, 60000>},
    {"--repeat-reply", "MS",
     "send every reply but the sync echo twice, the copy\n"
     "MS milliseconds after the first (0..60000)",
     "milliseconds 0..60000", knob_number<&DeviceKnobs::repeat_reply_ms, 0, 60000>},
    {"--hangup-after", "N",
     "hang the line up once the device has received N\n"
     "bytes, as when a USB adapter is pulled",
     "a number from 0", knob_number<&DeviceKnobs::hangup_after_bytes, 0, 100000000>},
    {"--stop-after-checks", "N", "answer the first N entry checks, then no more", "a number from 0",
     knob_number<&DeviceKnobs::stop_after_checks, 0, 100000000>},
    {"--uncleared", "T:E",
     "entry E of table T never clears (repeatable; tables\n"
     "count from 1, entries from 0)",
     "TABLE:ENTRY, each 0..255",
     [](const std::string& v, DevsimOptions* o) {
         EntryAddress entry;
         if (!parse_entry(v, &entry)) {
             return false;
         }
         o->knobs.uncleared.push_back(entry);
         return true;
     }},
    {"--store-wrong", "NAME",
     "store setting NAME (pager, table, pager_to_table)\n"
     "with its lowest bit flipped, so its verify fails",
     "pager, table or pager_to_table",
     [](const std::string& v, DevsimOptions* o) {
         o->knobs.store_wrong = device_setting_from_name(v.c_str());
         return o->knobs.store_wrong >= 0;
     }},

    {nullptr, nullptr, "Other:", nullptr, nullptr},
    {"--log", "FILE",
     "write every byte on the line to FILE ('-': standard\n"
     "error), one per line: '<ms since start> rx <HEX>' for\n"
     "bytes from the program, '... tx <HEX>' for bytes the\n"
     "device sends; silent ports' bytes end in their name",
     "a file name or -",
     [](const std::string& v, DevsimOptions* o) {
         o->log = true;
         o->log_path = v;
         return !v.empty();
     }},
    {"--help", nullptr, "show this text", nullptr, mode_flag<&DevsimOptions::help>},
};

// The option called `name` ("-h" is --help), nullptr for none.
const Option* find_option(const std::string& name) {
    if (name == "-h") {
        return find_option("--help");
    }
    for (const Option& option : kOptions) {
        if (option.name != nullptr && name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

// The options part of --help: each option with its value, and its help in a
// column of its own.
std::string options_help() {
    constexpr std::size_t kColumn = 24;
    std::string text;
    for (const Option& option : kOptions) {
        if (option.name == nullptr) {
            text += std::string("\n") + option.help + "\n";
            continue;
        }
        std::string left = std::string("  ") + option.name;
        if (option.value != nullptr) {
            left += std::string(" ") + option.value;
        }
        left.resize(std::max(left.size() + 1, kColumn), ' ');
        text += left;
        for (const char* c = option.help; *c != '\0'; ++c) {
            text += *c;
            if (*c == '\n') {
                text += std::string(kColumn, ' ');
            }
        }
        text += "\n";
    }
    return text;
}

bool check_combination(const DevsimOptions& o, std::string* error) {
    if (o.serve) {
        if (!o.program.empty()) {
            *error = "--serve takes no PROGRAM";
        } else if (o.absent || o.silent_ports > 0) {
            *error = "--absent and --silent-ports need a PROGRAM, not --serve";
        }
    } else if (o.program.empty()) {
        *error = "no PROGRAM given (and no --serve)";
    } else if (!o.link.empty()) {
        *error = "--link needs --serve";
    }
    return error->empty();
}

}  // namespace

bool parse_devsim_args(const std::vector<std::string>& args, DevsimOptions* options,
                       std::string* error) {
    *options = DevsimOptions{};
    error->clear();
    std::size_t i = 0;
    while (i < args.size()) {
        const std::string& word = args[i];
        if (word == "--") {
            ++i;
            break;
        }
        if (word.size() < 2 || word[0] != '-') {
            break;  // the program starts here
        }
        std::string name = word;
        std::string value;
        const std::size_t eq = word.find('=');
        const bool inline_value = eq != std::string::npos;
        if (inline_value) {
            name = word.substr(0, eq);
            value = word.substr(eq + 1);
        }
        const Option* option = find_option(name);
        if (option == nullptr) {
            *error = "unknown option '" + name + "'";
            return false;
        }
        if (option->value != nullptr && !inline_value) {
            if (i + 1 >= args.size()) {
                *error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        } else if (option->value == nullptr && inline_value) {
            *error = "option " + name + " takes no value";
            return false;
        }
        if (!option->set(value, options)) {
            *error = "invalid value '" + value + "' for " + name + ": expected " + option->expected;
            return false;
        }
        if (options->help) {
            return true;
        }
        ++i;
    }
    options->program.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    return check_combination(*options, error);
}

const char* devsim_usage() {
    static const std::string usage = kUsageStart + options_help() + kUsageEnd;
    return usage.c_str();
}
