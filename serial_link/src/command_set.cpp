#include <algorithm>

#include "console/console.h"
#include "console/process.h"
#include "serial_link/serial_link.h"

namespace {

// Waits up to `ms` for a byte to be ready, in slices of kWaitSliceMs, so
// that an interruption ends the wait within one slice. The slices are
// counted, not timed: a wait that fails at once cannot turn into a spin.
bool wait_for_input(SerialGate& gate, int ms) {
    for (int left = ms; left > 0 && !interrupt_requested() && !gate.LineLost();
         left -= kWaitSliceMs) {
        if (gate.WaitForInput(std::min(left, kWaitSliceMs))) {
            return true;
        }
    }
    return false;
}

// Reads and throws away every byte that has come. Returns how many, and
// keeps the last kKept of them in `last` (oldest first), as many as there
// were.
constexpr int kKept = 4;
int drain(SerialGate& gate, std::uint8_t (&last)[kKept]) {
    int count = 0;
    char byte = 0;
    while (gate.Recv(&byte, 1) == 1) {
        std::copy(last + 1, last + kKept, last);
        last[kKept - 1] = static_cast<std::uint8_t>(byte);
        ++count;
    }
    return count;
}

}  // namespace

void send_byte(SerialGate& gate, std::uint8_t& exchange, std::uint8_t value, int pause) {
    exchange = value;
    gate.Send(reinterpret_cast<const char*>(&exchange), 1);
    // A lost line takes nothing, so there is nothing to pace.
    if (!gate.LineLost()) {
        pause_ms(pause);
    }
}

Unasked take_unasked(SerialGate& gate, const std::uint8_t* sent, int count) {
    std::uint8_t last[kKept] = {};
    const int got = drain(gate, last);
    if (got == 0) {
        return Unasked::kNone;
    }
    const int compared = std::min(count, kKept);
    const bool echo = compared >= 1 && got >= compared &&
                      std::equal(sent + count - compared, sent + count, last + kKept - compared);
    return echo ? Unasked::kEcho : Unasked::kBytes;
}

Reply query_byte(SerialGate& gate, std::uint8_t& exchange, std::uint8_t command) {
    // The device answers only after the whole command, here its one byte:
    // whatever came before it is not the answer, and the line is not in
    // step.
    const Unasked unasked = take_unasked(gate, nullptr, 0);
    if (unasked != Unasked::kNone) {
        return Reply{std::nullopt, unasked};
    }
    send_byte(gate, exchange, command, kPauseLongMs);
    return recv_reply(gate, exchange);
}

Reply recv_reply(SerialGate& gate, std::uint8_t& exchange) {
    char* byte = reinterpret_cast<char*>(&exchange);
    if (gate.Recv(byte, 1) == 1 ||
        (wait_for_input(gate, kReplyBoundMs) && gate.Recv(byte, 1) == 1)) {
        return Reply{exchange, Unasked::kNone};
    }
    // A reply that is only late must not answer the next question: it is
    // given as long again to show itself, and the line is out of step if it
    // does.
    return Reply{std::nullopt, stay_quiet(gate, kReplyBoundMs)};
}

Unasked stay_quiet(SerialGate& gate, int ms) {
    if (!wait_for_input(gate, ms)) {
        return Unasked::kNone;
    }
    std::uint8_t last[kKept] = {};
    drain(gate, last);
    return Unasked::kBytes;
}

bool settle_line(SerialGate& gate, int owed_echoes) {
    const std::int64_t limit = steady_us() + kSettleLimitMs * std::int64_t{1000};
    int owed = owed_echoes;
    for (;;) {
        // An echo still owed is waited for up to the limit: a device that
        // was held up for a moment must not leave one to answer the first
        // question. After the last, the usual quiet time is enough.
        const int left_ms = static_cast<int>((limit - steady_us() + 999) / 1000);
        if (!wait_for_input(gate, owed > 0 ? std::max(left_ms, 1) : kSettleQuietMs)) {
            break;
        }
        if (steady_us() >= limit) {
            return false;
        }
        char byte = 0;
        while (gate.Recv(&byte, 1) == 1) {
            owed -= static_cast<std::uint8_t>(byte) == CMD_SYNC ? 1 : 0;
        }
    }
    return !gate.LineLost() && !interrupt_requested();
}

bool report_unasked(Unasked unasked) {
    if (unasked == Unasked::kEcho) {
        say("\nError: the line echoes what is sent (a loopback plug, or an adapter with local "
            "echo).");
    } else if (unasked == Unasked::kBytes) {
        say("\nError: bytes came that answer no question (line noise, or a device answering "
            "late or twice).");
    }
    return unasked != Unasked::kNone;
}

bool report_line_lost(SerialGate& gate) {
    if (!gate.LineLost()) {
        return false;
    }
    say("\nError: the line to the device was lost.");
    return true;
}
