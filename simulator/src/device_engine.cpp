#include "simulator/device_engine.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kSide = 256;  // table numbers and entry indexes are single bytes

const char* const kSettingNames[kSettingCount] = {"pager", "table", "pager_to_table"};

int index_of(int table, int entry) {
    return table * kSide + entry;
}

bool inside_geometry(const DeviceEngine& engine, int table, int entry) {
    return table >= 1 && table <= engine.settings[kSettingTable] && entry >= 0 &&
           entry < engine.settings[kSettingPagerToTable];
}

bool pinned(const DeviceKnobs& knobs, int table, int entry) {
    return std::any_of(knobs.uncleared.begin(), knobs.uncleared.end(),
                       [&](const EntryAddress& a) { return a.table == table && a.entry == entry; });
}

bool sync_answered(const DeviceKnobs& knobs, int n) {
    if (knobs.echo_every > 1 && n % knobs.echo_every != 0) {
        return false;
    }
    return knobs.echo_syncs.empty() ||
           std::find(knobs.echo_syncs.begin(), knobs.echo_syncs.end(), n) != knobs.echo_syncs.end();
}

// Number of argument bytes that follow `command`, or -1 when it is not a
// command this device knows.
int argument_count(std::uint8_t command) {
    switch (command) {
        case kDevSync:
        case kDevGetPager:
        case kDevGetTable:
        case kDevGetPagerToTable:
            return 0;
        case kDevSetPager:
        case kDevSetTable:
        case kDevSetPagerToTable:
            return 1;
        case kDevCheckEntry:
            return 2;
        case kDevClearEntry:
            return 3;
        default:
            return -1;
    }
}

void store(DeviceEngine* engine, int setting, std::uint8_t value) {
    if (engine->knobs.store_wrong == setting) {
        value ^= 1;
    }
    engine->settings[setting] = value;
}

// Carries out the complete command held in engine->command and args.
bool execute(DeviceEngine* engine, std::uint8_t* reply) {
    const std::uint8_t* a = engine->args;
    bool answers = false;
    std::uint8_t value = 0;
    switch (engine->command) {
        case kDevSync:
            engine->syncs++;
            if (sync_answered(engine->knobs, engine->syncs)) {
                *reply = engine->knobs.sync_reply;
                return !engine->knobs.mute;
            }
            return false;
        case kDevSetPager:
            store(engine, kSettingPager, a[0]);
            return false;
        case kDevSetTable:
            store(engine, kSettingTable, a[0]);
            return false;
        case kDevSetPagerToTable:
            store(engine, kSettingPagerToTable, a[0]);
            return false;
        case kDevGetPager:
            value = engine->settings[kSettingPager];
            answers = true;
            break;
        case kDevGetTable:
            value = engine->settings[kSettingTable];
            answers = true;
            break;
        case kDevGetPagerToTable:
            value = engine->settings[kSettingPagerToTable];
            answers = true;
            break;
        case kDevClearEntry:
            if (a[2] == 0 && inside_geometry(*engine, a[0], a[1]) &&
                !pinned(engine->knobs, a[0], a[1])) {
                engine->clear[index_of(a[0], a[1])] = 1;
            }
            return false;
        case kDevCheckEntry:
            engine->checks++;
            if ((engine->knobs.stop_after_checks >= 0 &&
                 engine->checks > engine->knobs.stop_after_checks) ||
                std::count(engine->knobs.unanswered_checks.begin(),
                           engine->knobs.unanswered_checks.end(), engine->checks) > 0) {
                return false;
            }
            value = engine_entry_clear(*engine, a[0], a[1]) && inside_geometry(*engine, a[0], a[1])
                        ? 0x00
                        : kDevNotClear;
            answers = true;
            break;
        default:
            return false;
    }
    if (!answers || engine->knobs.mute || engine->knobs.silent_after_sync) {
        return false;
    }
    *reply = value;
    return true;
}

}  // namespace

int device_setting_from_name(const char* name) {
    for (int i = 0; i < kSettingCount; ++i) {
        if (std::strcmp(name, kSettingNames[i]) == 0) {
            return i;
        }
    }
    return -1;
}

void engine_power_on(DeviceEngine* engine, const DeviceKnobs& knobs) {
    engine->knobs = knobs;
    engine->settings[kSettingPager] = static_cast<std::uint8_t>(knobs.pager);
    engine->settings[kSettingTable] = static_cast<std::uint8_t>(knobs.table);
    engine->settings[kSettingPagerToTable] = static_cast<std::uint8_t>(knobs.pager_to_table);
    engine->clear.assign(kSide * kSide, 0);
    engine->command = 0;
    engine->arg_count = 0;
    engine->received = 0;
    engine->syncs = 0;
    engine->checks = 0;
    engine->replies = 0;
}

bool engine_feed(DeviceEngine* engine, std::uint8_t byte, std::uint8_t* reply) {
    if (engine->command == 0) {
        if (argument_count(byte) < 0) {
            return false;  // not a command: ignored
        }
        engine->command = byte;
        engine->arg_count = 0;
    } else {
        engine->args[engine->arg_count++] = byte;
    }
    if (engine->arg_count < argument_count(engine->command)) {
        return false;
    }
    const bool answered = execute(engine, reply);
    engine->command = 0;
    engine->arg_count = 0;
    return answered;
}

void engine_feed_bytes(DeviceEngine* engine, const std::uint8_t* bytes, std::size_t count,
                       std::vector<std::uint8_t>* replies) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t reply = 0;
        if (engine_feed(engine, bytes[i], &reply)) {
            replies->push_back(reply);
        }
    }
}

bool engine_entry_clear(const DeviceEngine& engine, int table, int entry) {
    if (table < 0 || table >= kSide || entry < 0 || entry >= kSide || engine.clear.empty()) {
        return false;
    }
    return engine.clear[index_of(table, entry)] != 0;
}

bool engine_hung_up(const DeviceEngine& engine) {
    return engine.knobs.hangup_after_bytes >= 0 &&
           engine.received >= engine.knobs.hangup_after_bytes;
}

void engine_receive(DeviceEngine* engine, std::uint8_t byte, std::int64_t now_us,
                    std::vector<TimedByte>* replies) {
    if (engine_hung_up(*engine)) {
        return;
    }
    engine->received++;
    const DeviceKnobs& knobs = engine->knobs;
    if (knobs.local_echo) {
        replies->push_back(TimedByte{now_us, byte});
    }
    const bool sync = engine->command == 0 && byte == kDevSync;
    std::uint8_t reply = 0;
    if (!engine_feed(engine, byte, &reply)) {
        return;
    }
    const int delay_ms = sync ? knobs.sync_delay_ms
                              : knobs.reply_delay_ms + knobs.reply_drift_ms * engine->replies++;
    const std::int64_t due = now_us + std::int64_t{1000} * delay_ms;
    replies->push_back(TimedByte{due, reply});
    if (!sync && knobs.repeat_reply_ms >= 0) {
        replies->push_back(TimedByte{due + std::int64_t{1000} * knobs.repeat_reply_ms, reply});
    }
}
