#include "serial_link/interruption.h"

#include "console/process.h"

void close_and_end_if_interrupted(SerialGate& gate) {
    if (!interrupt_requested()) {
        return;
    }
    gate.Close();
    end_if_interrupted();
}
