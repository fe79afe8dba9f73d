// Running a program with a /dev of its own, in which the simulated serial
// ports are the only serial ports. Linux only: a private mount namespace.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A serial port to show in the private /dev.
struct DevPort {
    std::string name;  // the name under /dev, such as "ttyUSB0"
    std::string path;  // the pty slave it stands for, such as "/dev/pts/3"
};

enum PrivateDevFailure {
    kPrivateDevOk = 0,
    kPrivateDevNoNamespace,  // neither namespace kind allowed, or /dev could not be built
    kPrivateDevCannotRun,    // the program could not be started (exec failed)
    kPrivateDevSystemError,  // fork or pipe failed
};

struct PrivateDevRun {
    pid_t pid = -1;  // the running program, when failure is kPrivateDevOk
    int failure = kPrivateDevOk;
    std::string message;  // what went wrong and why, for the user
};

// Starts `argv` (argv[0] looked up in PATH) in a child process whose mount
// namespace is private and whose /dev is a fresh tmpfs holding only null,
// zero, full, random, urandom, tty, ptmx, pts/, shm/ (bind-mounted from the
// real ones, where present), the links fd, stdin, stdout and stderr, and
// `ports`, each bind-mounted from its pty slave. Sources missing from the
// real /dev are left out; a missing pty slave is an error. The lock directory
// (where /var/lock leads, when it exists) is an empty tmpfs of its own too,
// so that the program sees no UUCP lock files but its own.
//
// The namespace is a plain mount namespace when the caller may make one
// (root), otherwise a user namespace with a mount namespace in which the
// caller's uid and gid map to themselves. The child keeps the caller's
// standard streams, session, controlling terminal, working directory and
// environment; SIGINT and SIGQUIT are reset to their defaults and no signal
// is blocked when the program starts.
//
// Returns the child's pid once the program has started. On failure the child
// has already been reaped; the result names the failure and carries a
// message with the failing step and the system's error text.
PrivateDevRun start_with_private_dev(const std::vector<DevPort>& ports,
                                     const std::vector<std::string>& argv);
