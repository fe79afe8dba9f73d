// Windows helpers behind the port list, visible to their tests.
#pragma once

#include "serial_link/serial_map.h"

// The port number of a DOS device name "COM<n>" (any letter case), 1..65535,
// above the 255 the port list can hold included. Returns -1 for anything
// else: other names, n out of range, leading zeros, trailing characters.
int com_port_number(const char* name);
