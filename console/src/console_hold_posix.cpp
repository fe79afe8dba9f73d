// The console during a run on POSIX: a terminal needs nothing changed for
// it, and outlives the program, so there is no message to keep on screen.
#include "device_run_platform.h"

void hold_console() {}

void release_console() {}

void keep_last_message() {}
