// The record of a run that --log FILE asks for: text lines appended to FILE,
// each written out as it happens, so that a run that stops, however it
// stops, leaves everything up to that moment.
//
// Every line is "<ms> <event>" or "<ms> <event> <text>": the time in
// milliseconds since the record began, with three decimals, on the run's
// steady clock, then one space and the event:
//   start   <program> <version> <date> <time> <UTC offset>   the record begins
//   args    the command line after the program's name, words separated by spaces
//   open    COM<n> <device> [(<device a link leads to>)] [usb <vendor>:<product>]
//           [serial <serial>] [(did not open)]
//           a port that discovery opens (Linux names the USB adapter where
//           sysfs does; Windows gives \\.\COM<n> and the driver's device)
//   >       one byte sent, two hex digits
//   <       one byte received, two hex digits
//   say     a message as printed, with \n, \r, \\ and \xNN for line feeds,
//           carriage returns, backslashes and other control bytes
//   exit    <status>   the run ended with this exit status
//   signal  <number>   the run was ended by an interruption (the signal, or
//                      on Windows the console event's code)
// A record ends with exit or signal; a record without either was cut short
// (the process was killed, the machine lost power).
#pragma once

#include <cstdint>

// The clock the record's times come from, in microseconds.
using LogClock = std::int64_t (*)();

// Opens FILE for appending (creating it), before any port is touched, and
// starts the record with its start and args lines. On failure prints
// "<program>: cannot write the log to <path>: <reason>" on standard error
// and returns false; the program then ends with exit status 1. A terminal
// or serial port is refused as a log: the log would go to the device.
bool run_log_open(const char* path, const char* program, int argc, const char* const* argv,
                  LogClock clock);

// True while a record is being written.
bool run_log_active();

// The events; each does nothing while no record is being written.
void run_log_open_port(int port, const char* identity);
void run_log_bytes(char direction, const std::uint8_t* bytes, int count);
void run_log_message(const char* text);
// Ends the record with its exit (or signal) line and closes FILE.
void run_log_exit(int status);
void run_log_signal(int signal);
