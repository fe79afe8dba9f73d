// The sync handshake on one port, as discovery does it: what pager-ports
// asks of it too, so that both judge every port alike.
#pragma once

#include <cstdint>

#include "serial_link/serial_gate.h"

// What the handshake found on a port.
struct SyncResult {
    enum Verdict {
        kSilent,       // no FF came back
        kDevice,       // FF came back and the line then fell quiet: the device
        kNoisy,        // bytes came that no echo explains, or the line never fell quiet
        kLineLost,     // the line went away during the handshake
        kInterrupted,  // an interruption came (interrupt_requested)
    };
    Verdict verdict = kSilent;
    int echoes = 0;  // the FF echoes counted, 0..20
    // How much later than the pause after its sync the first echo came, in
    // microseconds: the device's own pace, which its replies are judged by.
    std::int64_t echo_lag_us = 0;
};

// Runs the sync handshake on the open port of `gate`: 20 times, send FF,
// pause 20 ms, read one byte without waiting for it; an FF read back is an
// echo, and prints "." when `dots` is true. Every byte that has come is read:
// an FF beyond the syncs sent so far, or any other byte, is not an echo and
// the port is not the device (kNoisy), except that bytes before the first
// echo (a greeting, a glitch at open) get the port one more sync, whose
// bytes must all be echoes. The pause is the echo's time: a
// device answers within a few milliseconds and a USB adapter hands the byte
// on within 16, so a port with nothing behind it costs no more than the
// pauses. A port that echoed must then fall quiet within kSettleLimitMs
// (serial_link.h): the echoes a slow device still owes are waited for, and
// then kSettleQuietMs without a byte. Stops early, after the attempt in
// flight, when an interruption comes. Leaves the port open.
SyncResult sync_with_port(SerialGate& gate, bool dots);
