#include "serial_link/port_survey.h"

#include "console/console.h"
#include "console/process.h"
#include "serial_link/serial_link.h"

int probe_port(SerialGate& gate) {
    char buffer = 0;
    int echoes = 0;
    for (int attempt = 0; attempt < kSyncAttempts && !interrupt_requested(); ++attempt) {
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
        if (ports.state(i) != PortInfo::kStateProbe) {
            continue;
        }
        gate.Open(ports.port(i), kDeviceBaud);
        // A port that echoed must then fall quiet: a late device's last
        // echoes do, a line full of noise never does.
        const int echoes = probe_port(gate);
        const bool echoed = echoes >= 1;
        const bool quiet =
            echoed && !interrupt_requested() && settle_line(gate, kSyncAttempts - echoes);
        if (interrupt_requested()) {
            gate.Close();
            return -1;
        }
        if (quiet) {
            say("found on COM%d ok.", ports.port(i));
            return ports.port(i);
        }
        if (echoed && !gate.LineLost()) {
            say("COM%d is noisy, not the device.\nWait sync ...", ports.port(i));
        }
        gate.Close();
    }
    say("error - not responding\n");
    return -1;
}
