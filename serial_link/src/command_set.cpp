#include <chrono>

#include "serial_link/interruption.h"
#include "serial_link/serial_link.h"

void send_byte(SerialGate& gate, std::uint8_t& exchange, std::uint8_t value, int pause) {
    exchange = value;
    gate.Send(reinterpret_cast<const char*>(&exchange), 1);
    pause_ms(pause);
}

std::optional<std::uint8_t> query_byte(SerialGate& gate, std::uint8_t& exchange,
                                       std::uint8_t command) {
    stop_if_interrupted(gate);
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
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(bound_ms);
    for (;;) {
        const auto asked = Clock::now();
        if (gate.Recv(reinterpret_cast<char*>(&exchange), 1) == 1) {
            return exchange;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return std::nullopt;
        }
        // Recv normally waits out its own bound; one that gave up early (no
        // port open) must not turn this loop into a spin.
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - asked);
        if (waited.count() < SerialGate::kRecvWaitMs) {
            pause_ms(SerialGate::kRecvWaitMs - static_cast<int>(waited.count()));
        }
    }
}
