// Finding the device: the sync handshake on one port, and the walk over the
// machine's ports.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "console/console.h"
#include "console/process.h"
#include "console/run_log.h"
#include "line_wait.h"
#include "serial_link/port_holders.h"
#include "serial_link/port_paths.h"
#include "serial_link/serial_link.h"
#include "serial_link/sync_probe.h"

namespace {

// Number of sync attempts per port.
constexpr int kSyncAttempts = 20;
// How long the line must then stay quiet, not a byte, when some syncs got no
// echo even after the settle's limit.
constexpr int kPartialEchoQuietMs = 1000;

// What a port gave back during the sync and the settle. An echo can explain
// an FF, and no more of them than syncs have gone out; anything else came
// from something other than the device (noise, a banner, a glitch).
struct Heard {
    int echoes = 0;
    int syncs = 0;
    bool unexplained = false;
    // Bytes no echo explains came before the first echo, or with it: a
    // device's greeting once it wakes, or a glitch as the line opened.
    bool greeting = false;
    std::int64_t first_sync_us = 0;
    std::int64_t first_echo_us = -1;
    int dotted = 0;  // the echoes of the sync itself, each shown by a dot
};

// Reads every byte that has come, without waiting, into `heard`; prints "."
// for each echo when `dots` is true.
void listen(SerialGate& gate, bool dots, Heard* heard) {
    char byte = 0;
    const bool before_echoes = heard->echoes == 0;
    while (line_recv(gate, &byte, 1) == 1) {
        if (static_cast<std::uint8_t>(byte) != CMD_SYNC || heard->echoes == heard->syncs) {
            (before_echoes ? heard->greeting : heard->unexplained) = true;
            continue;
        }
        if (heard->first_echo_us < 0) {
            heard->first_echo_us = steady_us();
        }
        ++heard->echoes;
        if (dots) {
            say(".");
        }
    }
}

// Sends FF kSyncAttempts times, each followed by 20 ms and a read that does
// not wait.
void probe_port(SerialGate& gate, bool dots, Heard* heard) {
    heard->first_sync_us = steady_us();
    for (int attempt = 0; attempt < kSyncAttempts && !interrupt_requested(); ++attempt) {
        char buffer = static_cast<char>(CMD_SYNC);
        heard->syncs += line_send(gate, &buffer, 1) == 1 ? 1 : 0;
        pause_ms(kPauseLongMs);
        listen(gate, dots, heard);
    }
}

// Waits for the echoes still owed (no dots: they are late, and may not be
// the device's), up to kSettleLimitMs, and then for
// kSettleQuietMs without a byte. Returns true when the line fell quiet with
// nothing unexplained; false when it did not within the limit (a babbling
// line) or something came that no echo explains, and early when the line is
// lost or an interruption comes.
bool settle_line(SerialGate& gate, Heard* heard) {
    const std::int64_t limit = steady_us() + kSettleLimitMs * std::int64_t{1000};
    for (;;) {
        // After the last owed echo, the usual quiet time is enough.
        const int left_ms = static_cast<int>((limit - steady_us() + 999) / 1000);
        const bool owed = heard->echoes < heard->syncs;
        if (!wait_for_input(gate, owed ? std::max(left_ms, 1) : kSettleQuietMs)) {
            break;
        }
        if (steady_us() >= limit) {
            return false;
        }
        listen(gate, false, heard);
        if (heard->unexplained) {
            return false;
        }
    }
    // A device that echoed only some syncs is told from a line that gives
    // an FF now and then by a quiet that such a line does not keep.
    if (heard->echoes < heard->syncs && !gate.LineLost() && !interrupt_requested() &&
        wait_for_input(gate, kPartialEchoQuietMs)) {
        return false;
    }
    return !gate.LineLost() && !interrupt_requested();
}

// One sync and settle on the open port.
Heard sync_once(SerialGate& gate, bool dots, bool* settled) {
    Heard heard;
    probe_port(gate, dots, &heard);
    heard.dotted = heard.echoes;
    // A port that echoed must then fall quiet: a late device's last echoes
    // do, a line full of noise never does.
    *settled = heard.echoes >= 1 && !heard.unexplained && !heard.greeting &&
               !interrupt_requested() && !gate.LineLost() && settle_line(gate, &heard);
    return heard;
}

}  // namespace

SyncResult sync_with_port(SerialGate& gate, bool dots) {
    SyncResult result;
    bool settled = false;
    Heard heard = sync_once(gate, dots, &settled);
    // A device may greet the line once it wakes, or the line glitch as it
    // opens: bytes before the first echo, or with it, get the port a second
    // sync, whose every byte must then be an echo.
    if (heard.greeting && !heard.unexplained && heard.echoes >= 1 && !interrupt_requested() &&
        !gate.LineLost()) {
        heard = sync_once(gate, dots, &settled);
    }
    result.echoes = heard.dotted;
    result.echo_lag_us =
        heard.first_echo_us < 0
            ? 0
            : std::max<std::int64_t>(
                  heard.first_echo_us - heard.first_sync_us - kPauseLongMs * std::int64_t{1000}, 0);
    if (interrupt_requested()) {
        result.verdict = SyncResult::kInterrupted;
    } else if (gate.LineLost()) {
        result.verdict = SyncResult::kLineLost;
    } else if (result.echoes == 0) {
        result.verdict = SyncResult::kSilent;
    } else {
        result.verdict = settled ? SyncResult::kDevice : SyncResult::kNoisy;
    }
    return result;
}

namespace {

int find_device(SerialGate& gate, SyncResult* found) {
    PortInfo ports{};
    gate.GetPortsInfo(&ports);
    say("\nWait sync ...");
    bool chosen_opened = false;
    // One look at who holds which port, for every Open of the walk.
    begin_holder_census();
    for (int i = 0; i < ports.count(); ++i) {
        if (ports.state(i) != PortInfo::kStateProbe) {
            continue;
        }
        const bool opened = gate.Open(ports.port(i), kDeviceBaud);
        chosen_opened = opened;
        if (run_log_active()) {
            const std::string port = gate.Identify(ports.port(i));
            run_log_open_port(ports.port(i), (port + (opened ? "" : " (did not open)")).c_str());
        }
        const SyncResult sync = sync_with_port(gate, true);
        switch (sync.verdict) {
            case SyncResult::kDevice:
                end_holder_census();
                say("found on COM%d ok.", ports.port(i));
                *found = sync;
                return ports.port(i);
            case SyncResult::kInterrupted:
                end_holder_census();
                gate.Close();
                return -1;
            case SyncResult::kNoisy:
                say("COM%d is noisy, not the device.\nWait sync ...", ports.port(i));
                break;
            case SyncResult::kSilent:
            case SyncResult::kLineLost:
                break;
        }
        gate.Close();
    }
    end_holder_census();
    say("error - not responding\n");
    // A port chosen with --port that could not even be tried says why, off
    // standard output.
    if (gate.ChosenPort() >= 0 && !chosen_opened) {
        const int port = gate.ChosenPort();
        const std::string named =
            port == kDevicePathPort ? gate.Paths().chosen_device : "COM" + std::to_string(port);
        std::fprintf(stderr, "%s %s (pager-ports --port %s tells more).\n", named.c_str(),
                     ports.count() == 0 ? "is no serial port of this machine" : "did not open",
                     named.c_str());
    }
    return -1;
}

}  // namespace

int find_device(SerialGate& gate) {
    SyncResult found;
    return find_device(gate, &found);
}

Stop find_device(Link& link) {
    link.last_step = Step{Step::kSync};
    SyncResult found;
    if (find_device(link.gate, &found) >= 0) {
        // The device's echoes set the pace its replies are judged by.
        link.latest_reply_us = found.echo_lag_us;
        return Stop{};
    }
    return Stop{interrupt_requested() ? Stop::kInterrupted : Stop::kNoDevice};
}
