#include "serial_link/port_survey.h"

#include "console/console.h"
#include "serial_link/interruption.h"
#include "serial_link/serial_link.h"

int probe_port(SerialGate& gate) {
    char buffer = 0;
    int echoes = 0;
    for (int attempt = 0; attempt < kSyncAttempts; ++attempt) {
        stop_if_interrupted(gate);
        buffer = static_cast<char>(CMD_SYNC);
        gate.Send(&buffer, 1);
        pause_ms(kPauseLongMs);
        if (gate.Recv(&buffer, 1) == 1 && static_cast<std::uint8_t>(buffer) == CMD_SYNC) {
            say(".");
            ++echoes;
        }
    }
    return echoes;
}

int find_device(SerialGate& gate) {
    PortInfo ports{};
    gate.GetPortsInfo(&ports);
    say("\nWait sync ...");
    for (int i = 0; i < ports.count(); ++i) {
        if (ports.state(i) != 1) {
            continue;
        }
        gate.Open(ports.port(i), 9600);
        if (probe_port(gate) >= 1) {
            say("found on COM%d ok.", ports.port(i));
            settle_line(gate);
            return ports.port(i);
        }
        gate.Close();
    }
    say("error - not responding\n");
    return -1;
}
