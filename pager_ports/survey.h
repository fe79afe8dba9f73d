// pager-ports: what the machine's serial ports look like to vantel and
// brisko, and why each is or is not usable.
#pragma once

#include <string>
#include <vector>

#include "serial_link/port_holders.h"
#include "serial_link/port_paths.h"

// One port of the port list, in the order discovery tries them.
struct PortEntry {
    int port = 0;        // the COM number
    int state = 0;       // the port list's state byte; only 1 is tried
    std::string device;  // Linux: the device path; Windows: the SERIALCOMM device name
    std::string name;    // Windows: the name Device Manager shows, "" when unknown
    int vid = -1;        // Windows: the USB vendor and product IDs, -1 when unknown
    int pid = -1;
    std::string state_note;  // why the state is not 1 ("no UART", "Bluetooth"), else ""
    bool tried = false;      // an open was tried (state 1)
    bool usable = false;     // it opened
    std::string problem;     // why it did not open, in words, else ""
    // "flock", "exclusive mode", "lock file" or "open" when another program
    // holds it
    std::string held_by;
    std::vector<PortHolder> holders;  // who holds it, where known: the lock's owner, or has it open
    std::string group;                // Linux: the group that owns the node, "" when unknown
    bool group_known = false;         // the two facts below were found out
    bool in_group = false;            // this process has that group (what `id -nG` shows)
    bool in_group_after_login = false;  // the user database gives the user that group
    bool permission_denied = false;     // the open failed for want of permission
    int echoes = -1;                    // sync echoes with --probe, -1 when not probed
    bool noisy = false;                 // echoed, but never fell quiet: not the device
    bool line_lost = false;             // the line went away during the handshake
    int latency_ms = -1;  // an FTDI adapter's latency timer, -1 for other ports or unknown
};

struct Survey {
    std::vector<PortEntry> ports;
    bool probed = false;
    int chosen = -1;  // with --probe: the port the programs would use, -1 for none
    std::vector<std::string> hints;
};

// Lists every port of the port list under `paths`, describes it, tries to
// open each port with state 1 as the programs do (SerialGate::Open at 9600,
// closed at once), and with `probe` runs discovery's sync handshake on every
// port that opened, stopping at none. Adds the hints for what it found.
// With a port in `choice` (--port), the list holds that port alone, as it
// does for vantel and brisko (SerialGate::ChoosePort). Prints nothing.
Survey survey_ports(const PortPaths& paths, bool probe, const PortChoice& choice = PortChoice{});

// True when at least one port opened.
bool any_usable(const Survey& survey);

// The survey as text: a header and one line per port, the chosen port and
// the hints. `columns` pads the fields into columns (for a terminal); without
// it they are separated by tabs. `colour` marks usable and unusable ports.
std::string survey_text(const Survey& survey, bool columns, bool colour);

// The survey as one JSON object, for scripts: valid UTF-8 whatever bytes the
// system's names hold. The text form never holds a control character from
// the system either.
std::string survey_json(const Survey& survey);

// Platform facts, in survey_<platform>.cpp.

// Fills in what can be told about `entry` (port and state set) without
// opening it: its device, the reason for a state other than 1, its owning
// group and whether the user has it.
void describe_port(const PortPaths& paths, PortEntry* entry);

// The latency timer of the FTDI adapter behind `entry` (device set), in
// milliseconds: how long the chip may hold received bytes before it hands
// them over. -1 for other ports, or where it cannot be read.
int latency_timer_ms(const PortPaths& paths, const PortEntry& entry);

// Adds the ports the system has but the port list cannot hold (Windows: COM
// numbers above 255), described and never tried.
void add_unlisted_ports(Survey* survey);

// Adds to entry->holders the processes that have the port open, where that
// can be seen, and the command name of a lock file's owner.
void find_holders(PortEntry* entry);

// The system's text for error code `error` (errno, or GetLastError()).
std::string system_error_text(int error);

// What `error` (as above) says when it means that another program has the
// port open ("in use by another program"), else "".
std::string in_use_text(int error);

// True when `error` (as above) is a refused permission.
bool error_means_permission(int error);

// Adds the hints that depend on the machine: helpers that take serial ports
// running, no serial node at all (and why that may be), nodes the programs
// never try, ports the system may suspend or that the port list cannot hold.
void add_system_hints(const PortPaths& paths, const Survey& survey,
                      std::vector<std::string>* hints);
