// Windows helpers behind the port list, visible to their tests.
#pragma once

// The port number of a DOS device name "COM<n>" (any letter case), 1..255.
// Returns -1 for anything else: other names, n out of range, leading zeros,
// trailing characters.
int com_port_number(const char* name);
