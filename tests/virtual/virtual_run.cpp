#include "virtual_run.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>

void VirtualRun::SetUp() {
    previous_ = std::filesystem::current_path();
    char tmpl[] = "/tmp/virtual_run.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    workdir_ = tmpl;
    std::filesystem::current_path(workdir_);
}

void VirtualRun::TearDown() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(workdir_, ignored);
}

void VirtualRun::write_config(const std::string& text) {
    std::ofstream(workdir_ / "config.txt", std::ios::binary) << text;
}

int VirtualRun::run(int (*run)(), const VirtualSetup& setup) {
    virtual_reset(setup);
    return run();
}

std::string hex(std::uint8_t byte) {
    static const char kDigits[] = "0123456789ABCDEF";
    return {kDigits[byte >> 4], kDigits[byte & 0xF]};
}

std::string waited_out(int ms) {
    std::string trace;
    for (; ms > 0; ms -= kWaitSliceMs) {
        trace += "t" + std::to_string(std::min(ms, kWaitSliceMs)) + " ";
    }
    return trace;
}

std::string synced(int port) {
    return "open" + std::to_string(port) + " " + repeat(">FF p20 <FF", 20) +
           waited_out(kSettleQuietMs);
}

std::string no_reply(std::uint8_t command) {
    return ">" + hex(command) + " p20 " + kNoReply + waited_out(kLateReplyWindowMs);
}

std::string sent_bytes(const std::string& trace) {
    std::string sent;
    for (std::size_t at = trace.find('>'); at != std::string::npos; at = trace.find('>', at + 1)) {
        if (trace.compare(at + 3, 1, "!") != 0) {
            sent += trace.substr(at, 3);
        }
    }
    return sent;
}

std::string set(std::uint8_t command, std::uint8_t value) {
    return ">" + hex(command) + " p20 >" + hex(value) + " p20 ";
}

std::string query(std::uint8_t command, std::uint8_t reply) {
    return ">" + hex(command) + " p20 <" + hex(reply) + " ";
}

std::string clear(int t, int e) {
    return ">F0 p10 >" + hex(static_cast<std::uint8_t>(t)) + " p10 >" +
           hex(static_cast<std::uint8_t>(e)) + " p10 >00 p20 ";
}

std::string check(int t, int e, std::uint8_t reply) {
    return ">F1 p10 >" + hex(static_cast<std::uint8_t>(t)) + " p10 >" +
           hex(static_cast<std::uint8_t>(e)) + " p10 <" + hex(reply) + " p10 ";
}
