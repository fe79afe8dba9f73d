// The simulated paging device's protocol engine: bytes from the host go in,
// reply bytes come out. Pure and single-threaded; the pty device runs it on a
// pseudo-terminal, the tests feed it directly.
//
// The engine keeps its own copy of the wire bytes on purpose: it plays the
// device, so a wrong value in the host's command table shows up as a test
// failure instead of being agreed with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The device's command bytes.
inline constexpr std::uint8_t kDevSync = 0xFF;             // reply: sync reply
inline constexpr std::uint8_t kDevSetPager = 0xF5;         // + value
inline constexpr std::uint8_t kDevGetPager = 0xF6;         // reply: pager
inline constexpr std::uint8_t kDevSetTable = 0xF7;         // + value
inline constexpr std::uint8_t kDevGetTable = 0xF8;         // reply: table
inline constexpr std::uint8_t kDevSetPagerToTable = 0xF9;  // + value
inline constexpr std::uint8_t kDevGetPagerToTable = 0xFA;  // reply: pager_to_table
inline constexpr std::uint8_t kDevClearEntry = 0xF0;       // + table, entry, 00
inline constexpr std::uint8_t kDevCheckEntry = 0xF1;       // + table, entry; reply 00 when clear

// Reply to a check of an entry that is not clear.
inline constexpr std::uint8_t kDevNotClear = 0x01;

// The three settings, as indexes into DeviceEngine::settings.
enum DeviceSetting { kSettingPager = 0, kSettingTable = 1, kSettingPagerToTable = 2 };
inline constexpr int kSettingCount = 3;

// Returns the setting named `name` ("pager", "table" or "pager_to_table"),
// or -1 for any other name.
int device_setting_from_name(const char* name);

// An entry of the table memory: table number from 1, entry index from 0.
struct EntryAddress {
    int table = 0;
    int entry = 0;
};

// How the simulated device behaves. The defaults give a well-behaved device
// with 2 tables of 3 entries.
struct DeviceKnobs {
    // Settings at power on, 0..255.
    int pager = 10;
    int table = 2;
    int pager_to_table = 3;

    // Which syncs get a reply. Syncs are counted from 1 since power on,
    // answered or not. Sync n is answered when `echo_syncs` is empty or holds
    // n, and n is a multiple of `echo_every` (1: every sync).
    std::vector<int> echo_syncs;
    int echo_every = 1;

    // The byte a sync is answered with.
    std::uint8_t sync_reply = 0xFF;

    // Answer syncs only: every other reply is withheld.
    bool silent_after_sync = false;

    // Answer nothing at all (a port with nothing on the line).
    bool mute = false;

    // Timing, applied by engine_receive. A sync's echo leaves sync_delay_ms
    // after the sync byte; every other reply leaves reply_delay_ms after the
    // byte that asked for it, and, when repeat_reply_ms is 0 or more, once
    // more repeat_reply_ms after that.
    int sync_delay_ms = 0;
    int reply_delay_ms = 0;
    int repeat_reply_ms = -1;
    // Each reply after the first leaves this much later than the one before.
    int reply_drift_ms = 0;

    // The line gives back every byte the host sends, at once and before any
    // reply, as an adapter with local echo does (with `mute`: a loopback
    // plug).
    bool local_echo = false;

    // The line hangs up once the device has received this many bytes, as
    // when a USB adapter is pulled: bytes after that never arrive and the
    // host's side of the line reports it gone. -1: never.
    int hangup_after_bytes = -1;

    // The first N entry checks get a reply, later ones none. -1: no limit.
    int stop_after_checks = -1;
    // Entry checks, counted from 1, that get no reply.
    std::vector<int> unanswered_checks;

    // Entries that never become clear, whatever is sent.
    std::vector<EntryAddress> uncleared;

    // A setting (DeviceSetting) stored as the value XOR 1, so that reading
    // it back gives another value. -1: every setting is stored as sent.
    int store_wrong = -1;
};

// The device's state. Fill it with engine_power_on; then only engine_feed
// changes it. Reading the fields is fine.
struct DeviceEngine {
    DeviceKnobs knobs;
    // pager, table, pager_to_table, as stored.
    std::uint8_t settings[kSettingCount] = {};
    // One flag per addressable entry, 256 tables x 256 entries, index
    // table * 256 + entry; non-zero when the entry is clear.
    std::vector<std::uint8_t> clear;
    // The command whose argument bytes are being collected, and those bytes;
    // command is 0 while waiting for a command byte.
    std::uint8_t command = 0;
    std::uint8_t args[3] = {};
    int arg_count = 0;
    // Bytes, syncs and entry checks received since power on.
    int received = 0;
    int syncs = 0;
    int checks = 0;
    // Replies other than sync echoes sent since power on.
    int replies = 0;
};

// A byte the device sends, with the time it leaves, in microseconds on the
// clock of whoever runs the engine.
struct TimedByte {
    std::int64_t due_us = 0;
    std::uint8_t byte = 0;
};

// Puts `engine` in its power-on state for `knobs`: settings as the knobs
// give them, every entry not clear, no command pending, counters at 0.
void engine_power_on(DeviceEngine* engine, const DeviceKnobs& knobs);

// Takes one byte from the host. Bytes are parsed by position: a command byte
// is followed by its argument bytes, which may hold any value (F5 FA sets
// pager to 250). Bytes that are not a known command where a command is due
// are ignored.
//
// Replies:
//   FF            sync reply, when the knobs let sync number n be answered
//   F6, F8, FA    the stored pager, table, pager_to_table
//   F1 t e        00 when entry (t, e) is clear, 01 otherwise; an entry
//                 outside tables 1..table and entries 0..pager_to_table-1
//                 is never clear
// Effects:
//   F5 v, F7 v, F9 v   store v (XOR 1 for the knobs' store_wrong setting)
//   F0 t e 00          clears entry (t, e) when it lies inside the geometry,
//                      the last byte is 00 and the knobs do not pin it; any
//                      other form changes nothing
//
// Returns true with the reply in *reply when the device answers this byte,
// false otherwise. Never fails.
bool engine_feed(DeviceEngine* engine, std::uint8_t byte, std::uint8_t* reply);

// Feeds `count` bytes from `bytes` in order and appends every reply to
// `replies`.
void engine_feed_bytes(DeviceEngine* engine, const std::uint8_t* bytes, std::size_t count,
                       std::vector<std::uint8_t>* replies);

// Takes one byte from the host that reached the device at `now_us`, as
// engine_feed does, and appends the replies it causes to `replies`, each with
// the time it leaves the device as the knobs' timing gives it. A byte that
// comes after the line has hung up is not taken. Both the pty device and the
// tests' virtual line run the device through this.
void engine_receive(DeviceEngine* engine, std::uint8_t byte, std::int64_t now_us,
                    std::vector<TimedByte>* replies);

// True once the line has hung up (knobs.hangup_after_bytes reached).
bool engine_hung_up(const DeviceEngine& engine);

// True when entry `entry` of table `table` (numbered as on the wire) is
// clear. False for an address outside 0..255.
bool engine_entry_clear(const DeviceEngine& engine, int table, int entry);
