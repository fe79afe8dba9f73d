// Keeping the machine awake on a POSIX system without logind's bus client:
// nothing to ask, so the machine's own sleep settings apply.
#include "device_run_platform.h"

void keep_awake(const char*, const char*) {}

void let_sleep() {}
