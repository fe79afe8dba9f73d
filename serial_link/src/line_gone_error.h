// The POSIX gate's reading of the system's errors, visible to its tests.
#pragma once

// True for the errors with which the system says that the line itself is
// gone, not just busy: a hung-up or unplugged port (EIO, ENXIO, ENODEV).
bool line_gone_error(int error);
