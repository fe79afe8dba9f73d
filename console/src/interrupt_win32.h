// Shared inside the console library on Windows: the key wait wakes on an
// interruption too.
#pragma once

#include <windows.h>

// An event set when an interruption comes, or nullptr when none could be
// made. It lives as long as the process.
HANDLE interrupt_event();
