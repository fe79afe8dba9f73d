// The table eraser's run: find the device, clear every entry of its table
// memory and check every entry afterwards.
#include "run.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "console/console.h"
#include "console/title.h"
#include "serial_link/interruption.h"
#include "serial_link/serial_link.h"

namespace {

// Once this many entry checks in a row got no reply, the device has stopped
// listening: going on would cost a reply bound and an "e" per entry, hours
// on a large table memory.
constexpr int kSilentChecksToStop = 16;

// A check's mark is printed once this many more checks went out in step
// after it: a byte that noise put in step by chance is seldom followed by
// more (on a line that gives a byte every 50-150 ms, about one check in
// five passes by chance, so eight in a row about once in 400,000), and the
// device's own replies always are.
constexpr std::size_t kMarksHeld = 8;

// The size of the device's table memory, as the device reports it.
struct DeviceGeometry {
    unsigned tables;   // table numbers on the wire run 1..tables
    unsigned entries;  // entry indexes on the wire run 0..entries-1
};

// Asks the device for its geometry. The pager setting is asked first, as the
// device expects, and its reply is not used. A question that got no reply
// ends the asking: a later reply could be its late one. Each reply is
// confirmed by the next question's look, the last by the quiet before the
// first clear. Replies that are each their own question, or a first reply
// that is its question with bytes after it, are an echo of what was sent.
Stop read_geometry(Link& link, DeviceGeometry* geometry) {
    const std::uint8_t questions[3] = {CMD_GET_PAGER, CMD_GET_TABLE, CMD_GET_PAGER_TO_TABLE};
    Answer answers[3];
    Stop stop;
    bool each_its_question = true;
    for (int i = 0; i < 3 && !stop && (i == 0 || answers[i - 1].reply); ++i) {
        stop = ask(link, query(questions[i]), &answers[i]);
        each_its_question = each_its_question && answers[i].reply == questions[i];
    }
    if (!stop && answers[2].reply) {
        stop = confirm_quiet(link, Step{Step::kBeforeFirstClear});
    }
    const bool unasked = stop.reason == Stop::kUnasked || stop.reason == Stop::kEcho;
    if (each_its_question && (!stop || unasked)) {
        if (!unasked) {
            // The three replies themselves are what came back.
            stop.count = 3;
            std::copy(questions, questions + 3, stop.last + Stop::kKept - 3);
            stop.step = query(questions[2]).step;
        }
        stop.reason = Stop::kEcho;
    } else if (unasked && answers[0].reply == questions[0]) {
        stop.reason = Stop::kEcho;
    }
    if (stop) {
        return stop;
    }
    if (!answers[1].reply || !answers[2].reply) {
        return Stop{Stop::kNoGeometry};
    }
    *geometry = DeviceGeometry{*answers[1].reply, *answers[2].reply};
    if (geometry->tables > kMostTables || geometry->entries > kMostEntries) {
        stop.reason = Stop::kNoTableSize;
        stop.tables = geometry->tables;
        stop.entries = geometry->entries;
    }
    return stop;
}

// The pauses a clear and a check of one entry still owe, in ms.
constexpr std::int64_t kClearMs = 3 * kPauseShortMs + kPauseLongMs;
constexpr std::int64_t kCheckMs = 4 * kPauseShortMs;

// Shows the step and the time left in the console title, at most once a
// second: the pauses still due, and for each check still to come the time
// the checks' replies have taken so far, on average.
void show_progress(const char* step, unsigned done, const DeviceGeometry& geometry,
                   std::int64_t ms_left) {
    const long total = static_cast<long>(geometry.tables) * geometry.entries;
    show_time_left("brisko", step, static_cast<long>(done), total, ms_left, steady_us());
}

// Sends the clear command for every entry, table by table, with a "." for
// each that went out whole and clean.
Stop clear_entries(Link& link, const DeviceGeometry& geometry) {
    const std::int64_t total = static_cast<std::int64_t>(geometry.tables) * geometry.entries;
    for (unsigned t = 1; t <= geometry.tables; ++t) {
        for (unsigned e = 0; e < geometry.entries; ++e) {
            const unsigned done = (t - 1) * geometry.entries + e;
            show_progress("clearing", done, geometry, (total - done) * kClearMs + total * kCheckMs);
            if (Stop stop = send_command(link, clear_entry(t, e))) {
                return stop;
            }
            say(".");
        }
    }
    return Stop{};
}

// Checks every entry in the same order, counting in `*errors` and marking
// with "e" each that is not clear or got no reply, and with "." each that is
// clear. A mark is printed kMarksHeld checks later, in order, once those
// checks' looks found the line in step; the last marks once the line stayed
// quiet for kOutOfStepQuietMs after the last reply.
Stop check_entries(Link& link, const DeviceGeometry& geometry, int* errors) {
    int silent_in_a_row = 0;
    std::string held;
    bool last_replied = false;
    const std::int64_t total = static_cast<std::int64_t>(geometry.tables) * geometry.entries;
    std::int64_t waited_us = 0;
    for (unsigned t = 1; t <= geometry.tables; ++t) {
        for (unsigned e = 0; e < geometry.entries; ++e) {
            const unsigned done = (t - 1) * geometry.entries + e;
            const std::int64_t reply_ms = done > 0 ? waited_us / done / 1000 : 0;
            show_progress("checking", done, geometry, (total - done) * (kCheckMs + reply_ms));
            if (Stop stop = send_command(link, check_entry(t, e))) {
                return stop;
            }
            if (held.size() == kMarksHeld) {
                say("%c", held.front());
                held.erase(0, 1);
            }
            Answer answer;
            const std::int64_t asked_us = steady_us();
            if (Stop stop = await_reply(link, &answer)) {
                return stop;
            }
            waited_us += steady_us() - asked_us;
            silent_in_a_row = answer.reply ? 0 : silent_in_a_row + 1;
            last_replied = answer.reply.has_value();
            const bool clear = answer.reply == std::uint8_t{0};
            *errors += clear ? 0 : 1;
            held += clear ? '.' : 'e';
            if (silent_in_a_row == kSilentChecksToStop) {
                say("%s", held.c_str());  // all of them checks without a reply
                return Stop{Stop::kStoppedAnswering};
            }
            pause_ms(kPauseShortMs);
        }
    }
    // No reply is confirmed by the quiet that followed it already.
    if (last_replied || held.find('.') != std::string::npos) {
        if (Stop stop = confirm_quiet(link, Step{Step::kAfterLastCheck}, kOutOfStepQuietMs)) {
            return stop;
        }
    }
    say("%s", held.c_str());
    return Stop{};
}

// The run from the device found to the count of entries not clear. Returns
// why it stopped early, or kNone.
Stop erase_and_verify(Link& link, int* errors) {
    say("\n\nErase");
    DeviceGeometry geometry{};
    if (Stop stop = read_geometry(link, &geometry)) {
        return stop;
    }
    if (Stop stop = clear_entries(link, geometry)) {
        return stop;
    }
    say("\nVerify");
    return check_entries(link, geometry, errors);
}

}  // namespace

int run_brisko(const RunOptions& options) {
    SerialGate gate;
    gate.ChoosePort(options.port);
    Link link(gate);
    if (Stop stop = find_device(link)) {
        return end_run(link, stop);
    }
    int errors = 0;
    // A program that shared the port may have taken replies meant for this
    // run: the count is then not the device's.
    Stop stop = erase_and_verify(link, &errors);
    if (stop || (stop = check_not_shared(link))) {
        return end_run(link, stop);
    }
    say("\nError %3d ", errors);

    gate.Close();
    wait_key();
    return 0;
}
