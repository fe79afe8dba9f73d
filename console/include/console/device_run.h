// What a program asks of the system while it works with the device, and the
// way out of its run.
#pragma once

// Starts the hold on the system for a run with the device; called once,
// before discovery, by vantel and brisko (not by --help or --version):
// - the machine is kept from sleeping on its own. Linux: a logind inhibitor
//   lock (what "sleep:idle", mode "block", who `program`, why `purpose`),
//   taken over the system bus (DBUS_SYSTEM_BUS_ADDRESS when set) within half
//   a second, and done without, silently, where logind does not answer.
//   Windows: SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
// - Windows: the process is exempt from execution-speed and timer-resolution
//   throttling, where the system knows them, and QuickEdit is off on the
//   console input, so that a click cannot hold up the run's next message.
// Nothing is printed and nothing fails the run: what the system refuses is
// done without.
void begin_device_run(const char* program, const char* purpose);

// Lets go of everything begin_device_run took and puts the console's input
// mode back. Safe to call at any time, any number of times. The key prompt
// (wait_key) and end_if_interrupted call it, so that every way out lets go.
void release_device_run();

// The way out of main after the run returns: lets go, and when the console
// window belongs to this process alone (Windows: started by a double-click
// or from Explorer, with its output on that window) and the run neither
// showed its key prompt nor was interrupted, prompts for a key
// ("\nPress any key ...") so that the last message stays readable before
// the window closes. In a Command Prompt, PowerShell, Windows Terminal and on
// POSIX nothing is printed.
void end_device_run();
