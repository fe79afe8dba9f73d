// The fakes behind virtual_platform.h: SerialGate's platform half, pause_ms, and
// the console's output and key prompt, all on one virtual clock.
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <random>

#include "console/console.h"
#include "console/process.h"
#include "console/run_log.h"
#include "console/title.h"
#include "port_list.h"
#include "serial_link/serial_gate.h"
#include "serial_link/serial_link.h"
#include "title_platform.h"
#include "virtual_platform.h"

struct SerialGate::Port {
    VirtualPort port;
    bool lost = false;
};

void SerialGate::PortDeleter::operator()(Port* port) const {
    delete port;
}

namespace {

struct Machine {
    VirtualSetup setup;
    DeviceEngine engine;
    std::int64_t now_us = 0;
    // The open port's bytes on their way to the host (the device's, its
    // noise), by the time they arrive.
    std::multimap<std::int64_t, std::uint8_t> incoming;
    std::string trace;
    std::string output;
    std::vector<VirtualTitle> titles;
    int bytes_sent = 0;
};

Machine& machine() {
    static Machine m;
    return m;
}

void step(const char* format, ...) {
    char text[64];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    machine().trace += text;
    machine().trace += ' ';
}

// "20", "1.5", "0.001": milliseconds, exact to the microsecond.
std::string ms_text(std::int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(us / 1000),
                  static_cast<long long>(us % 1000));
    std::string s = text;
    while (s.back() == '0') {
        s.pop_back();
    }
    if (s.back() == '.') {
        s.pop_back();
    }
    return s;
}

bool line_lost() {
    const Machine& m = machine();
    return engine_hung_up(m.engine) ||
           (m.setup.hangup_at_ms >= 0 && m.now_us >= m.setup.hangup_at_ms * std::int64_t{1000});
}

// Moves the clock on to `us`, interrupting the run on the way when the setup
// says so.
void advance_to(std::int64_t us) {
    Machine& m = machine();
    m.now_us = us;
    if (m.setup.interrupt_at_ms >= 0 && m.now_us >= m.setup.interrupt_at_ms * std::int64_t{1000} &&
        !interrupt_requested()) {
        request_interrupt(SIGINT);
    }
}

// Two minutes of the port's noise from now, if it carries any.
void schedule_noise(const VirtualPort& port) {
    Machine& m = machine();
    static const int kGapsMs[] = {50, 70, 90, 60, 80};
    std::int64_t at = m.now_us + port.noise_after_ms * std::int64_t{1000};
    for (int i = 0; port.noise >= 0 && at < m.now_us + 120000000; ++i) {
        at += kGapsMs[i % 5] * std::int64_t{1000};
        m.incoming.emplace(at, static_cast<std::uint8_t>(port.noise));
    }
    std::mt19937 draw(port.noise_seed);
    std::uniform_int_distribution<int> gap_us(port.noise_gap_ms.first * 1000,
                                              port.noise_gap_ms.second * 1000);
    at = m.now_us + port.noise_after_ms * std::int64_t{1000};
    for (std::size_t n = port.noise_values.size(); n > 0 && at < m.now_us + 120000000;) {
        at += gap_us(draw);
        m.incoming.emplace(
            at, port.noise_values[std::uniform_int_distribution<std::size_t>(0, n - 1)(draw)]);
    }
    for (const auto& [ms, byte] : port.strays) {
        m.incoming.emplace(m.now_us + ms * std::int64_t{1000}, byte);
    }
}

// Takes the first byte that has arrived by now, if any.
bool take_arrived(std::uint8_t* byte) {
    Machine& m = machine();
    if (m.incoming.empty() || m.incoming.begin()->first > m.now_us) {
        return false;
    }
    *byte = m.incoming.begin()->second;
    m.incoming.erase(m.incoming.begin());
    return true;
}

// Waits up to `bound_ms` for a byte to arrive on the open port, which is the
// device's when `device` is true. True when one is there.
bool wait_for_byte(int bound_ms, bool device) {
    Machine& m = machine();
    const std::int64_t end = m.now_us + bound_ms * std::int64_t{1000};
    if (!(device && line_lost()) && !m.incoming.empty() && m.incoming.begin()->first <= end) {
        const std::int64_t due = std::max(m.incoming.begin()->first, m.now_us);
        if (due > m.now_us) {
            step("w%s", ms_text(due - m.now_us).c_str());
            advance_to(due);
        }
        return true;
    }
    step("t%s", ms_text(end - m.now_us).c_str());
    advance_to(end);
    return false;
}

}  // namespace

void virtual_reset(const VirtualSetup& setup) {
    Machine& m = machine();
    m = Machine{};
    m.setup = setup;
    engine_power_on(&m.engine, setup.knobs);
}

const std::string& virtual_trace() {
    return machine().trace;
}

const std::string& virtual_output() {
    return machine().output;
}

std::int64_t virtual_now_us() {
    return machine().now_us;
}

const DeviceEngine& virtual_device() {
    return machine().engine;
}

std::string repeat(const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i) {
        result += text + " ";
    }
    return result;
}

// ---- SerialGate's platform half ---------------------------------------------

int listed_port_of(const PortPaths&, const std::string&) {
    return -1;
}

std::string port_identity(const PortPaths&, int port) {
    return "virtual" + std::to_string(port);
}

void fill_port_list(const PortPaths&, PortInfo* info) {
    info->clear();
    for (const VirtualPort& port : machine().setup.ports) {
        info->append(port.number, port.state);
    }
}

bool SerialGate::Open(int port, int) {
    Close();
    for (const VirtualPort& candidate : machine().setup.ports) {
        if (candidate.number == port) {
            port_.reset(new Port{candidate});
            step("open%d", port);
            machine().incoming.clear();
            schedule_noise(candidate);
            return true;
        }
    }
    return false;
}

void SerialGate::Close() {
    if (port_) {
        step("close");
        port_.reset();
        if (interrupt_requested()) {
            std::fprintf(stderr, "%s|%s@%s", machine().output.c_str(), machine().trace.c_str(),
                         ms_text(machine().now_us).c_str());
        }
    }
}

int SerialGate::Send(const char* buffer, int length) {
    if (!port_ || port_->lost || buffer == nullptr || length <= 0) {
        return 0;
    }
    Machine& m = machine();
    int sent = 0;
    for (int i = 0; i < length; ++i) {
        const auto byte = static_cast<std::uint8_t>(buffer[i]);
        if (port_->port.device && line_lost()) {
            step(">%02X!", byte);  // the system refuses it: the line is gone
            port_->lost = true;
            break;
        }
        if (m.bytes_sent == port_->port.takes_bytes) {
            step(">%02X-", byte);
            break;
        }
        step(">%02X", byte);
        ++sent;
        if (++m.bytes_sent == m.setup.interrupt_after_bytes) {
            request_interrupt(SIGINT);
        }
        if (port_->port.device) {
            std::vector<TimedByte> replies;
            engine_receive(&m.engine, byte, m.now_us, &replies);
            for (const TimedByte& reply : replies) {
                m.incoming.emplace(reply.due_us, reply.byte);
            }
        }
    }
    return sent;
}

int SerialGate::Recv(char* buffer, int length) {
    if (!port_ || port_->lost || buffer == nullptr || length <= 0) {
        return 0;
    }
    if (port_->port.device && line_lost()) {
        port_->lost = true;
        return 0;
    }
    int got = 0;
    std::uint8_t byte = 0;
    while (got < length && take_arrived(&byte)) {
        step("<%02X", byte);
        buffer[got++] = static_cast<char>(byte);
    }
    return got;
}

bool SerialGate::WaitForInput(int timeout_ms) {
    if (!port_ || port_->lost) {
        return false;
    }
    if (port_->port.device && line_lost()) {
        port_->lost = true;
        return false;
    }
    return wait_for_byte(timeout_ms, port_->port.device);
}

bool SerialGate::LineLost() const {
    return port_ && port_->lost;
}

bool SerialGate::SettingsIntact() const {
    return true;
}

std::vector<PortHolder> SerialGate::OtherHolders() const {
    return {};
}

void begin_holder_census() {}

void end_holder_census() {}

// ---- Pauses and the console ---------------------------------------------------

void pause_ms(int ms) {
    if (ms > 0) {
        step("p%d", ms);
        advance_to(machine().now_us + ms * std::int64_t{1000});
    }
}

std::int64_t steady_us() {
    return machine().now_us;
}

void say(const char* format, ...) {
    char text[256];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    machine().output += text;
    run_log_message(text);
}

bool stdout_is_console() {
    return machine().setup.console;
}

bool title_keep() {
    return machine().setup.console;
}

void title_set(const char* text) {
    machine().titles.push_back({machine().now_us, text});
}

void title_restore() {
    machine().titles.push_back({machine().now_us, "(put back)"});
}

const std::vector<VirtualTitle>& virtual_titles() {
    return machine().titles;
}

void wait_key() {
    put_back_title();
    say("\nPress any key ...");
    step("key");
}
