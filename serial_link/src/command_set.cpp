#include "console/console.h"
#include "serial_link/interruption.h"
#include "serial_link/serial_link.h"

void send_byte(SerialGate& gate, std::uint8_t& exchange, std::uint8_t value, int pause) {
    exchange = value;
    gate.Send(reinterpret_cast<const char*>(&exchange), 1);
    // A lost line takes nothing, so there is nothing to pace.
    if (!gate.LineLost()) {
        pause_ms(pause);
    }
}

std::optional<std::uint8_t> query_byte(SerialGate& gate, std::uint8_t& exchange,
                                       std::uint8_t command) {
    stop_if_interrupted(gate);
    // The device answers only after the whole command, here its one byte:
    // whatever came before it is not the answer.
    gate.DiscardInput();
    send_byte(gate, exchange, command, kPauseLongMs);
    return recv_reply(gate, exchange);
}

std::optional<std::uint8_t> recv_reply(SerialGate& gate, std::uint8_t& exchange) {
    // WaitForInput sleeps the whole bound unless a byte comes, so one wait
    // is the bound: no loop that a failing wait could turn into a spin.
    char* byte = reinterpret_cast<char*>(&exchange);
    if (gate.Recv(byte, 1) == 1 || (gate.WaitForInput(kReplyBoundMs) && gate.Recv(byte, 1) == 1)) {
        return exchange;
    }
    settle_line(gate);
    return std::nullopt;
}

void settle_line(SerialGate& gate) {
    const std::int64_t limit = steady_us() + kSettleLimitMs * std::int64_t{1000};
    char scrap[64];
    while (!gate.LineLost() && steady_us() < limit && gate.WaitForInput(kSettleQuietMs)) {
        while (steady_us() < limit && gate.Recv(scrap, sizeof scrap) > 0) {
        }
    }
}

bool line_lost(SerialGate& gate) {
    if (!gate.LineLost()) {
        return false;
    }
    say("\nError: the line to the device was lost.");
    return true;
}
