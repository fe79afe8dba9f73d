// The Windows port settings, visible to their tests.
#pragma once

#include <windows.h>

// Makes `state` raw 8N1 at `baud` with no flow control of any kind: the
// device answers on its own pacing and never looks at the modem lines. DTR
// and RTS stay raised for adapters that power themselves from them.
//
// Every field the line depends on is set, whatever the driver reported:
// XonChar 0x11 and XoffChar 0x13 (SetCommState refuses equal characters even
// with XON/XOFF off, and some USB CDC drivers report both as 0), XonLim and
// XoffLim within the queue SerialGate asks for, and ErrorChar, EofChar and
// EvtChar 0. Every other field is set too, so nothing the driver reported
// survives.
void set_raw_8n1(DCB& state, int baud);
