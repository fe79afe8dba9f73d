// A machine on virtual time for running a program's whole run inside a test.
//
// The test build links the run against this file's fakes instead of the
// platform's: SerialGate's ports are virtual and the simulated device (its
// protocol engine) sits behind one of them, pause_ms advances a virtual clock
// instead of sleeping, and say and wait_key write to a string. Nothing real
// happens and no time passes, so a test sees every byte on the wire with the
// time around it, exact to the microsecond, and no load can disturb it.
//
// A byte the host sends reaches the device at once; the device's replies come
// when the engine's knobs say (DeviceKnobs: sync_delay_ms, reply_delay_ms,
// repeat_reply_ms, local_echo, hangup_after_bytes ...), and a port's noise
// when VirtualPort says. Waiting for a byte advances the clock to the byte,
// or to the end of the wait.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "simulator/device_engine.h"

// One port the virtual machine offers, in port-list order.
struct VirtualPort {
    int number = 33;     // the COM number
    int state = 1;       // the state byte in the port list
    bool device = true;  // the simulated device is behind it; else nothing answers
    // A byte the line carries by itself from `noise_after_ms` after the
    // port's opening on, every 50, 70, 90, 60, 80, 50 ... ms (noise, a wrong
    // baud rate); -1: none.
    int noise = -1;
    int noise_after_ms = 0;
    // Seeded noise instead: from `noise_after_ms` on, one byte drawn from
    // `noise_values` after each gap drawn uniformly from [noise_gap_ms.first,
    // noise_gap_ms.second] ms, the same for the same `noise_seed`.
    std::vector<std::uint8_t> noise_values = {};
    std::pair<int, int> noise_gap_ms = {0, 0};
    unsigned noise_seed = 0;
    // Single bytes the line carries: (ms after the port's opening, byte).
    std::vector<std::pair<int, std::uint8_t>> strays = {};
    // The line takes this many bytes from the host, then no more (its output
    // stopped); -1: every byte.
    int takes_bytes = -1;
};

struct VirtualSetup {
    DeviceKnobs knobs;
    std::vector<VirtualPort> ports = std::vector<VirtualPort>(1);  // the device on COM33
    bool console = false;                                          // standard output is a console
    // The user interrupts the run (as by Ctrl+C, SIGINT) once the host has
    // sent this many bytes; -1: never. The run then ends by the signal, so
    // tests run it as a death test: when a port is closed because of an
    // interruption, the output so far, "|" and the trace so far are written
    // to standard error.
    int interrupt_after_bytes = -1;
    // The same, once the virtual clock reaches this time; -1: never. A wait
    // or pause under way then still runs to its end.
    int interrupt_at_ms = -1;
    // The device's line hangs up once the virtual clock reaches this time, as
    // when a USB adapter is pulled between bytes; -1: never.
    int hangup_at_ms = -1;
};

// Starts a fresh machine: time 0, the device powered on with `setup.knobs`,
// no port open, trace and output empty.
void virtual_reset(const VirtualSetup& setup);

// What the host did, in order, each step followed by one space (when an
// interruption closes the port, the trace written to standard error ends in
// "close @<ms>", the time of the close):
//   open33  close   Open of port 33 (one that exists) / Close of the open port
//   >F6             byte F6 sent and taken by the line
//   >F6!            byte F6 handed to Send after the line was lost
//   >F6-            byte F6 handed to Send and not taken by the line
//   p20             pause_ms(20)
//   w1.5  t30       a wait for a byte that ended after 1.5 ms with one there /
//                   that ran its whole 30 ms with none
//   <0A             byte 0A read
//   key             the key prompt's wait
// Durations are milliseconds of virtual time, exact to the microsecond.
const std::string& virtual_trace();

// Everything the run printed, in order.
const std::string& virtual_output();

// The virtual clock, in microseconds since virtual_reset.
std::int64_t virtual_now_us();

// The device's state (settings, cleared entries, counters).
const DeviceEngine& virtual_device();

// The console titles the run showed (title_platform.h), with the virtual
// time of each; "(put back)" where the old one was put back.
struct VirtualTitle {
    std::int64_t at_us;
    std::string text;
};
const std::vector<VirtualTitle>& virtual_titles();

// `step` followed by a space, `times` times: a helper for expected traces.
std::string repeat(const std::string& step, int times);
