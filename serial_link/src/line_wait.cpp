#include "line_wait.h"

#include <algorithm>
#include <cstdint>

#include "console/process.h"
#include "console/run_log.h"
#include "serial_link/serial_link.h"

bool wait_for_input(SerialGate& gate, int ms) {
    const std::int64_t deadline = steady_us() + std::int64_t{ms} * 1000;
    for (;;) {
        if (interrupt_requested() || gate.LineLost()) {
            return false;
        }
        const std::int64_t left_us = deadline - steady_us();
        if (left_us <= 0) {
            return false;
        }
        const int slice =
            static_cast<int>(std::min<std::int64_t>((left_us + 999) / 1000, kWaitSliceMs));
        const std::int64_t slice_end = steady_us() + std::int64_t{slice} * 1000;
        if (gate.WaitForInput(slice)) {
            return true;
        }
        const std::int64_t short_us = slice_end - steady_us();
        if (short_us >= 1000 && !gate.LineLost() && !interrupt_requested()) {
            pause_ms(static_cast<int>(short_us / 1000));
        }
    }
}

int line_send(SerialGate& gate, const char* buffer, int length) {
    const int sent = gate.Send(buffer, length);
    run_log_bytes('>', reinterpret_cast<const std::uint8_t*>(buffer), sent);
    return sent;
}

int line_recv(SerialGate& gate, char* buffer, int length) {
    const int got = gate.Recv(buffer, length);
    run_log_bytes('<', reinterpret_cast<const std::uint8_t*>(buffer), got);
    return got;
}
