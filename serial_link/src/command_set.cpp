#include "serial_link/serial_link.h"

void send_byte(SerialGate& gate, std::uint8_t& exchange, std::uint8_t value, int pause) {
    exchange = value;
    gate.Send(reinterpret_cast<const char*>(&exchange), 1);
    pause_ms(pause);
}

std::optional<std::uint8_t> query_byte(SerialGate& gate, std::uint8_t& exchange,
                                       std::uint8_t command) {
    // A byte that came before the question (a late sync echo, a reply that
    // missed its own bound) is not the answer to it.
    gate.DiscardInput();
    send_byte(gate, exchange, command, kPauseLongMs);
    if (gate.Recv(reinterpret_cast<char*>(&exchange), 1) != 1) {
        return std::nullopt;
    }
    return exchange;
}

std::optional<std::uint8_t> recv_reply(SerialGate& gate, std::uint8_t& exchange, int bound_ms) {
    const std::int64_t deadline = steady_us() + bound_ms * std::int64_t{1000};
    for (;;) {
        const std::int64_t asked = steady_us();
        if (gate.Recv(reinterpret_cast<char*>(&exchange), 1) == 1) {
            return exchange;
        }
        const std::int64_t now = steady_us();
        if (now >= deadline) {
            return std::nullopt;
        }
        // Recv normally waits out its own bound; one that gave up early (no
        // port open) must not turn this loop into a spin.
        const std::int64_t waited_ms = (now - asked) / 1000;
        if (waited_ms < SerialGate::kRecvWaitMs) {
            pause_ms(SerialGate::kRecvWaitMs - static_cast<int>(waited_ms));
        }
    }
}
