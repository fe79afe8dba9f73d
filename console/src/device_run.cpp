// The order of the hold on the system for a run, the same on every platform.
#include "console/device_run.h"
#include "console/process.h"
#include "device_run_platform.h"

namespace {

bool begun = false;
bool held = false;
bool prompted = false;

}  // namespace

void begin_device_run(const char* program, const char* purpose) {
    if (held) {
        return;
    }
    begun = true;
    held = true;
    prompted = false;
    hold_console();
    keep_awake(program, purpose);
}

void release_device_run() {
    if (!held) {
        return;
    }
    held = false;
    let_sleep();
    release_console();
}

void note_key_prompt() {
    prompted = true;
    release_device_run();
}

void end_device_run() {
    release_device_run();
    if (begun && !prompted && !interrupt_requested()) {
        keep_last_message();
    }
}
