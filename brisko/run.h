// The table eraser's run, from finding the device to the key prompt.
#pragma once

// Finds the device, reads its table geometry, clears every entry, checks
// every entry, prints the error count, closes the port and waits for a key.
// Returns the exit status: 0 when the run completed, whatever the error
// count; 1 when no device answered or it did not report its geometry.
int run_brisko();
