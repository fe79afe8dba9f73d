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

// What vantel prints from "Write:" to "Verify:" when all three settings went
// out.
inline const std::string kWritten =
    "\n\nWrite:\nPager writen\nTable writen\nPager_to_table writen\n\nVerify:";

// vantel's three verify lines, each "ok." or "error.".
inline std::string verify_lines(bool pager, bool table, bool pager_to_table) {
    auto line = [](const char* name, bool ok) {
        return std::string("\n") + name + " verify " + (ok ? "ok." : "error.");
    };
    return line("Pager", pager) + line("Table", table) + line("Pager_to_table", pager_to_table);
}

// Why a run stops on a line that echoes, and on one that brings bytes
// nobody asked for, without and with what came and where ("1 byte, last 0A,
// after the reply to F6").
inline const std::string kEchoes =
    "\nError: the line echoes what is sent (a loopback plug, or an adapter with local echo)";
inline const std::string kUnasked =
    "\nError: bytes came that answer no question (line noise, or a device answering late or "
    "twice)";
inline std::string echoes(const std::string& what) {
    return kEchoes + ": " + what + ".";
}
inline std::string unasked(const std::string& what) {
    return kUnasked + ": " + what + ".";
}
