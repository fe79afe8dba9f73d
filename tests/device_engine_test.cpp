// The simulated device's protocol engine: what it answers, what it stores,
// and when its replies leave.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "simulator/device_engine.h"
#include "simulator/devsim_options.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes feed(DeviceEngine* engine, const Bytes& input) {
    Bytes replies;
    engine_feed_bytes(engine, input.data(), input.size(), &replies);
    return replies;
}

struct ParseCase {
    const char* name;
    DeviceKnobs knobs;
    Bytes input;
    Bytes replies;
};

DeviceKnobs geometry(int tables, int entries) {
    DeviceKnobs knobs;
    knobs.table = tables;
    knobs.pager_to_table = entries;
    return knobs;
}

TEST(DeviceEngine, ParsesCommandsByPosition) {
    const ParseCase cases[] = {
        {"sync echoes", {}, {0xFF, 0xFF}, {0xFF, 0xFF}},
        {"getters give power-on settings", {}, {0xF6, 0xF8, 0xFA}, {10, 2, 3}},
        {"value FA after F5 is pager 250", {}, {0xF5, 0xFA, 0xF6}, {0xFA}},
        {"value FF after F7 is no sync", {}, {0xF7, 0xFF, 0xF8}, {0xFF}},
        {"value F5 after F9 is stored", {}, {0xF9, 0xF5, 0xFA}, {0xF5}},
        {"all three set then read",
         {},
         {0xF5, 0xFA, 0xF7, 0x63, 0xF9, 0xFA, 0xF6, 0xF8, 0xFA},
         {0xFA, 0x63, 0xFA}},
        {"stray bytes are ignored", {}, {0x00, 0x12, 0xEF, 0xF2, 0xF6}, {10}},
        {"entry not clear at power on", {}, {0xF1, 0x01, 0x00}, {0x01}},
        {"cleared entry checks clear", {}, {0xF0, 0x01, 0x02, 0x00, 0xF1, 0x01, 0x02}, {0x00}},
        {"clear touches only its entry",
         {},
         {0xF0, 0x02, 0x00, 0x00, 0xF1, 0x01, 0x00, 0xF1, 0x02, 0x01, 0xF1, 0x02, 0x00},
         {0x01, 0x01, 0x00}},
        {"command bytes as table and entry",
         geometry(255, 250),
         {0xF0, 0xF1, 0xF0, 0x00, 0xF1, 0xF1, 0xF0, 0xF0, 0xFF, 0xF1, 0x00, 0xF1, 0xFF, 0xF1},
         {0x00, 0x00}},
        {"clear with a non-zero last byte does nothing",
         {},
         {0xF0, 0x01, 0x00, 0xF6, 0xF1, 0x01, 0x00},
         {0x01}},
        {"table 0 is outside the memory", {}, {0xF0, 0x00, 0x00, 0x00, 0xF1, 0x00, 0x00}, {0x01}},
        {"table after the last is outside", {}, {0xF0, 0x03, 0x00, 0x00, 0xF1, 0x03, 0x00}, {0x01}},
        {"entry pager_to_table is outside", {}, {0xF0, 0x01, 0x03, 0x00, 0xF1, 0x01, 0x03}, {0x01}},
        {"geometry follows the stored settings",
         {},
         {0xF7, 0x05, 0xF9, 0x07, 0xF0, 0x05, 0x06, 0x00, 0xF1, 0x05, 0x06},
         {0x00}},
    };
    for (const ParseCase& c : cases) {
        DeviceEngine engine;
        engine_power_on(&engine, c.knobs);
        EXPECT_EQ(feed(&engine, c.input), c.replies) << c.name;
    }
}

// The sync numbers, 1..count, that get a reply.
std::vector<int> answered_syncs(const DeviceKnobs& knobs, int count) {
    DeviceEngine engine;
    engine_power_on(&engine, knobs);
    std::vector<int> answered;
    for (int n = 1; n <= count; ++n) {
        std::uint8_t reply = 0;
        if (engine_feed(&engine, 0xFF, &reply)) {
            answered.push_back(n);
        }
    }
    return answered;
}

TEST(DeviceEngine, AnswersOnlyTheChosenSyncs) {
    DeviceKnobs listed;
    listed.echo_syncs = {2, 5, 6};
    EXPECT_EQ(answered_syncs(listed, 8), (std::vector<int>{2, 5, 6}));

    DeviceKnobs every_third;
    every_third.echo_every = 3;
    EXPECT_EQ(answered_syncs(every_third, 10), (std::vector<int>{3, 6, 9}));

    DeviceKnobs both;
    both.echo_syncs = {2, 3, 4};
    both.echo_every = 2;
    EXPECT_EQ(answered_syncs(both, 6), (std::vector<int>{2, 4}));
}

struct KnobCase {
    const char* name;
    DeviceKnobs knobs;
    Bytes input;
    Bytes replies;
};

DeviceKnobs with(void (*change)(DeviceKnobs*)) {
    DeviceKnobs knobs;
    change(&knobs);
    return knobs;
}

// Clears and then checks every entry of the default 2 x 3 memory.
Bytes clear_and_check_all() {
    Bytes bytes;
    for (std::uint8_t t = 1; t <= 2; ++t) {
        for (std::uint8_t e = 0; e < 3; ++e) {
            bytes.insert(bytes.end(), {0xF0, t, e, 0x00});
        }
    }
    for (std::uint8_t t = 1; t <= 2; ++t) {
        for (std::uint8_t e = 0; e < 3; ++e) {
            bytes.insert(bytes.end(), {0xF1, t, e});
        }
    }
    return bytes;
}

TEST(DeviceEngine, KnobsChangeTheReplies) {
    const KnobCase cases[] = {
        {"sync answered with another byte",
         with([](DeviceKnobs* k) { k->sync_reply = 0x55; }),
         {0xFF, 0xF6},
         {0x55, 10}},
        {"silent after sync",
         with([](DeviceKnobs* k) { k->silent_after_sync = true; }),
         {0xFF, 0xF6, 0xF8, 0xF1, 0x01, 0x00, 0xFF},
         {0xFF, 0xFF}},
        {"mute", with([](DeviceKnobs* k) { k->mute = true; }), {0xFF, 0xF6, 0xF1, 0x01, 0x00}, {}},
        {"stop after two checks",
         with([](DeviceKnobs* k) { k->stop_after_checks = 2; }),
         {0xF1, 0x01, 0x00, 0xF1, 0x01, 0x01, 0xF1, 0x01, 0x02, 0xF6},
         {0x01, 0x01, 10}},
        {"stop after no checks",
         with([](DeviceKnobs* k) { k->stop_after_checks = 0; }),
         {0xF1, 0x01, 0x00, 0xFF},
         {0xFF}},
        {"pinned entries stay uncleared",
         with([](DeviceKnobs* k) {
             k->uncleared = {{1, 1}, {2, 2}};
         }),
         clear_and_check_all(),
         {0x00, 0x01, 0x00, 0x00, 0x00, 0x01}},
        {"power-on settings",
         with([](DeviceKnobs* k) {
             k->pager = 255;
             k->table = 0;
             k->pager_to_table = 250;
         }),
         {0xF6, 0xF8, 0xFA},
         {0xFF, 0x00, 0xFA}},
    };
    for (const KnobCase& c : cases) {
        DeviceEngine engine;
        engine_power_on(&engine, c.knobs);
        EXPECT_EQ(feed(&engine, c.input), c.replies) << c.name;
    }
}

// devsim --store-wrong NAME: the device keeps the named setting, and only
// that one, with its lowest bit flipped.
TEST(DeviceEngine, StoreWrongSpoilsTheNamedSettingAlone) {
    const Bytes write_and_read_back = {0xF5, 0x07, 0xF7, 0x05, 0xF9, 0x06, 0xF6, 0xF8, 0xFA};
    const std::pair<const char*, Bytes> cases[] = {
        {"pager", {0x06, 0x05, 0x06}},
        {"table", {0x07, 0x04, 0x06}},
        {"pager_to_table", {0x07, 0x05, 0x07}},
    };
    for (const auto& [name, replies] : cases) {
        DevsimOptions options;
        std::string error;
        ASSERT_TRUE(parse_devsim_args({"--store-wrong", name, "--", "p"}, &options, &error));
        DeviceEngine engine;
        engine_power_on(&engine, options.knobs);
        EXPECT_EQ(feed(&engine, write_and_read_back), replies) << name;
    }
}

TEST(DeviceEngine, RepliesLeaveWhenTheTimingKnobsSayAndNothingAfterAHangUp) {
    DeviceKnobs knobs;
    knobs.sync_delay_ms = 300;
    knobs.reply_delay_ms = 150;
    knobs.repeat_reply_ms = 25;
    knobs.hangup_after_bytes = 3;
    DeviceEngine engine;
    engine_power_on(&engine, knobs);
    std::vector<TimedByte> replies;
    engine_receive(&engine, 0xFF, 1000, &replies);
    engine_receive(&engine, 0xF8, 2000, &replies);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].due_us, 301000);
    EXPECT_EQ(replies[0].byte, 0xFF);
    EXPECT_EQ(replies[1].due_us, 152000);
    EXPECT_EQ(replies[1].byte, 2);
    EXPECT_EQ(replies[2].due_us, 177000);
    EXPECT_EQ(replies[2].byte, 2);

    replies.clear();
    engine_receive(&engine, 0xF6, 3000, &replies);  // the third byte still arrives
    EXPECT_EQ(replies.size(), 2u);
    EXPECT_TRUE(engine_hung_up(engine));
    engine_receive(&engine, 0xF6, 4000, &replies);
    EXPECT_EQ(replies.size(), 2u);
    EXPECT_EQ(engine.received, 3);
}

}  // namespace
