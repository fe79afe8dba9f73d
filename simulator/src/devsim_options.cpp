#include "simulator/devsim_options.h"

#include <cstddef>
#include <cstring>

namespace {

const char kUsage[] =
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
    "ignored.\n"
    "\n"
    "Where the device is:\n"
    "  --absent              attach no device: /dev holds no serial port at all\n"
    "  --silent-ports N      put N ports that never answer first (ttyUSB0..N-1);\n"
    "                        the device is then ttyUSB<N>, COM<33+N>; N <= 31\n"
    "  --serve               no PROGRAM: serve the device on a pty until stopped\n"
    "  --link PATH           with --serve: make PATH a symlink to the pty\n"
    "                        (removed on exit), e.g. a Wine dosdevices/com33 entry\n"
    "\n"
    "Device settings at power on (0..255):\n"
    "  --pager N             the pager setting (default 10)\n"
    "  --tables N            the table setting: number of tables (default 2)\n"
    "  --entries N           the pager_to_table setting: entries per table\n"
    "                        (default 3)\n"
    "\n"
    "Faults:\n"
    "  --echo-syncs LIST     answer only these syncs, counted from 1 since start;\n"
    "                        LIST is numbers and ranges such as 1,5,7-9\n"
    "  --echo-every N        answer only every Nth sync (N, 2N, ...)\n"
    "  --sync-reply HEX      answer syncs with this byte instead of FF, e.g. 55\n"
    "  --silent-after-sync   answer syncs, and nothing else\n"
    "  --local-echo          give back every byte received at once, before any\n"
    "                        reply, as an adapter with local echo does\n"
    "  --reply-delay MS      send every reply but the sync echo MS milliseconds\n"
    "                        late (0..60000)\n"
    "  --sync-delay MS       send each sync echo MS milliseconds late (0..60000)\n"
    "  --repeat-reply MS     send every reply but the sync echo twice, the copy\n"
    "                        MS milliseconds after the first (0..60000)\n"
    "  --hangup-after N      hang the line up once the device has received N\n"
    "                        bytes, as when a USB adapter is pulled\n"
    "  --stop-after-checks N answer the first N entry checks, then no more\n"
    "  --uncleared T:E       entry E of table T never clears (repeatable; tables\n"
    "                        count from 1, entries from 0)\n"
    "  --store-wrong NAME    store setting NAME (pager, table, pager_to_table)\n"
    "                        with its lowest bit flipped, so its verify fails\n"
    "\n"
    "Other:\n"
    "  --log FILE            write every byte on the line to FILE ('-': standard\n"
    "                        error), one per line: '<ms since start> rx <HEX>' for\n"
    "                        bytes from the program, '... tx <HEX>' for bytes the\n"
    "                        device sends; silent ports' bytes end in their name\n"
    "  --help                show this text\n"
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

bool takes_value(const std::string& name) {
    static const char* const kWithValue[] = {
        "--pager",       "--tables",       "--entries",      "--echo-syncs",
        "--echo-every",  "--sync-reply",   "--reply-delay",  "--stop-after-checks",
        "--sync-delay",  "--repeat-reply", "--hangup-after", "--uncleared",
        "--store-wrong", "--silent-ports", "--log",          "--link"};
    for (const char* known : kWithValue) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

bool bad_value(const std::string& name, const std::string& value, const char* expected,
               std::string* error) {
    *error = "invalid value '" + value + "' for " + name + ": expected " + expected;
    return false;
}

// Applies option `name` with `value` (empty for a flag).
bool apply(const std::string& name, const std::string& value, DevsimOptions* o,
           std::string* error) {
    DeviceKnobs& k = o->knobs;
    if (name == "--help" || name == "-h") {
        o->help = true;
    } else if (name == "--serve") {
        o->serve = true;
    } else if (name == "--absent") {
        o->absent = true;
    } else if (name == "--silent-after-sync") {
        k.silent_after_sync = true;
    } else if (name == "--local-echo") {
        k.local_echo = true;
    } else if (name == "--pager") {
        return parse_int(value, 0, 255, &k.pager) || bad_value(name, value, "0..255", error);
    } else if (name == "--tables") {
        return parse_int(value, 0, 255, &k.table) || bad_value(name, value, "0..255", error);
    } else if (name == "--entries") {
        return parse_int(value, 0, 255, &k.pager_to_table) ||
               bad_value(name, value, "0..255", error);
    } else if (name == "--echo-syncs") {
        k.echo_syncs.clear();
        return parse_sync_list(value, &k.echo_syncs) ||
               bad_value(name, value, "sync numbers from 1, such as 1,5,7-9", error);
    } else if (name == "--echo-every") {
        return parse_int(value, 1, 1000000, &k.echo_every) ||
               bad_value(name, value, "a number from 1", error);
    } else if (name == "--sync-reply") {
        int byte = 0;
        if (!parse_hex_byte(value, &byte)) {
            return bad_value(name, value, "a hexadecimal byte 00..FF", error);
        }
        k.sync_reply = static_cast<std::uint8_t>(byte);
    } else if (name == "--reply-delay") {
        return parse_int(value, 0, 60000, &k.reply_delay_ms) ||
               bad_value(name, value, "milliseconds 0..60000", error);
    } else if (name == "--sync-delay") {
        return parse_int(value, 0, 60000, &k.sync_delay_ms) ||
               bad_value(name, value, "milliseconds 0..60000", error);
    } else if (name == "--repeat-reply") {
        return parse_int(value, 0, 60000, &k.repeat_reply_ms) ||
               bad_value(name, value, "milliseconds 0..60000", error);
    } else if (name == "--hangup-after") {
        return parse_int(value, 0, 100000000, &k.hangup_after_bytes) ||
               bad_value(name, value, "a number from 0", error);
    } else if (name == "--stop-after-checks") {
        return parse_int(value, 0, 100000000, &k.stop_after_checks) ||
               bad_value(name, value, "a number from 0", error);
    } else if (name == "--uncleared") {
        EntryAddress entry;
        if (!parse_entry(value, &entry)) {
            return bad_value(name, value, "TABLE:ENTRY, each 0..255", error);
        }
        k.uncleared.push_back(entry);
    } else if (name == "--store-wrong") {
        k.store_wrong = device_setting_from_name(value.c_str());
        return k.store_wrong >= 0 ||
               bad_value(name, value, "pager, table or pager_to_table", error);
    } else if (name == "--silent-ports") {
        return parse_int(value, 0, kMaxSilentPorts, &o->silent_ports) ||
               bad_value(name, value, "0..31", error);
    } else if (name == "--log") {
        if (value.empty()) {
            return bad_value(name, value, "a file name or -", error);
        }
        o->log = true;
        o->log_path = value;
    } else if (name == "--link") {
        if (value.empty()) {
            return bad_value(name, value, "a path", error);
        }
        o->link = value;
    } else {
        *error = "unknown option '" + name + "'";
        return false;
    }
    return true;
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
        if (takes_value(name) && !inline_value) {
            if (i + 1 >= args.size()) {
                *error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        } else if (!takes_value(name) && inline_value) {
            *error = "option " + name + " takes no value";
            return false;
        }
        if (!apply(name, value, options, error)) {
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
    return kUsage;
}
