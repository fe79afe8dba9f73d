// Finding the device: the sync handshake on one port, and the walk over the
// machine's ports.
#include <cstdio>
#include <string>

#include "console/console.h"
#include "console/process.h"
#include "console/run_log.h"
#include "line_wait.h"
#include "serial_link/port_paths.h"
#include "serial_link/serial_link.h"
#include "serial_link/sync_probe.h"

namespace {

// Number of sync attempts per port.
constexpr int kSyncAttempts = 20;

// Sends FF kSyncAttempts times, each followed by 20 ms and one read that
// does not wait. Returns the number of FF read back, printing "." for each
// when `dots` is true.
int probe_port(SerialGate& gate, bool dots) {
    char buffer = 0;
    int echoes = 0;
    for (int attempt = 0; attempt < kSyncAttempts && !interrupt_requested(); ++attempt) {
        buffer = static_cast<char>(CMD_SYNC);
        line_send(gate, &buffer, 1);
        pause_ms(kPauseLongMs);
        if (line_recv(gate, &buffer, 1) == 1 && static_cast<std::uint8_t>(buffer) == CMD_SYNC) {
            if (dots) {
                say(".");
            }
            ++echoes;
        }
    }
    return echoes;
}

// Reads and throws away input until none has come for kSettleQuietMs: while
// fewer than `owed_echoes` sync echoes (FF) have come, the line is waited on
// up to the limit instead, so that a device held up for a moment cannot
// leave an echo to answer the first question. Returns true when the line
// fell quiet; false when it did not within kSettleLimitMs (a babbling
// line), and early when the line is lost or an interruption comes.
bool settle_line(SerialGate& gate, int owed_echoes) {
    const std::int64_t limit = steady_us() + kSettleLimitMs * std::int64_t{1000};
    int owed = owed_echoes;
    for (;;) {
        // After the last owed echo, the usual quiet time is enough.
        const int left_ms = static_cast<int>((limit - steady_us() + 999) / 1000);
        if (!wait_for_input(gate, owed > 0 ? std::max(left_ms, 1) : kSettleQuietMs)) {
            break;
        }
        if (steady_us() >= limit) {
            return false;
        }
        char byte = 0;
        while (line_recv(gate, &byte, 1) == 1) {
            owed -= static_cast<std::uint8_t>(byte) == CMD_SYNC ? 1 : 0;
        }
    }
    return !gate.LineLost() && !interrupt_requested();
}

}  // namespace

SyncResult sync_with_port(SerialGate& gate, bool dots) {
    SyncResult result;
    result.echoes = probe_port(gate, dots);
    // A port that echoed must then fall quiet: a late device's last echoes
    // do, a line full of noise never does.
    const bool settled = result.echoes >= 1 && !interrupt_requested() && !gate.LineLost() &&
                         settle_line(gate, kSyncAttempts - result.echoes);
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

int find_device(SerialGate& gate) {
    PortInfo ports{};
    gate.GetPortsInfo(&ports);
    say("\nWait sync ...");
    bool chosen_opened = false;
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
                say("found on COM%d ok.", ports.port(i));
                return ports.port(i);
            case SyncResult::kInterrupted:
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

Stop find_device(Link& link) {
    link.last_step = Step{Step::kSync};
    if (find_device(link.gate) >= 0) {
        return Stop{};
    }
    return Stop{interrupt_requested() ? Stop::kInterrupted : Stop::kNoDevice};
}
