// Keeping the machine awake on Windows: the main thread tells the system that
// it is needed until it says otherwise.
#include <windows.h>

#include "device_run_platform.h"
#include "run_calls_win32.h"

void keep_awake(const char*, const char*) {
    run_calls().set_thread_execution_state(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

void let_sleep() {
    run_calls().set_thread_execution_state(ES_CONTINUOUS);
}
