// Pieces of the programs' output that many tests expect.
#pragma once

#include <string>

// What discovery prints when it finds the device on COM<port> after `dots`
// echoes.
inline std::string found_on(int port, int dots = 20) {
    return "\nWait sync ..." + std::string(dots, '.') + "found on COM" + std::to_string(port) +
           " ok.";
}

inline const std::string kNotResponding = "\nWait sync ...error - not responding\n";
inline const std::string kPrompt = "\nPress any key ...";
