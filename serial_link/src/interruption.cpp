#include "serial_link/interruption.h"

#include "console/process.h"

void close_and_end_if_interrupted(SerialGate& gate) {
    if (!interrupt_requested()) {
        return;
    }
    gate.Close();
    end_if_interrupted();
}

int end_run(Link& link, const Stop& stop) {
    if (stop.reason == Stop::kInterrupted) {
        close_and_end_if_interrupted(link.gate);
    }
    say_stop(stop);
    return stop_status(stop);
}
