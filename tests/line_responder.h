// A stand-in for the far end of a serial line: a thread on a pty master that
// answers each received byte as the test tells it to, and keeps what it got.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "pty_pair.h"

class LineResponder {
  public:
    // Given the byte and how many bytes came before it, returns the reply, if any.
    using Policy = std::function<std::optional<std::uint8_t>(std::uint8_t byte, int index)>;

    explicit LineResponder(Policy policy) : policy_(std::move(policy)) {
        thread_ = std::thread([this] { run(); });
    }
    ~LineResponder() {
        stop_ = true;
        thread_.join();
    }
    LineResponder(const LineResponder&) = delete;
    LineResponder& operator=(const LineResponder&) = delete;

    const std::string& path() const { return pty_.slave_path; }
    int master() const { return pty_.master; }

    std::vector<std::uint8_t> received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

    // Policies for the sync handshake.
    static Policy silent() {
        return [](std::uint8_t, int) { return std::nullopt; };
    }
    static Policy echo() {
        return [](std::uint8_t byte, int) { return std::optional<std::uint8_t>(byte); };
    }

  private:
    void run() {
        while (!stop_) {
            pollfd pfd{pty_.master, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0 || !(pfd.revents & POLLIN)) {
                continue;
            }
            std::uint8_t byte = 0;
            if (read(pty_.master, &byte, 1) != 1) {
                continue;
            }
            int index = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                index = static_cast<int>(received_.size());
                received_.push_back(byte);
            }
            if (const auto reply = policy_(byte, index)) {
                const std::uint8_t out = *reply;
                (void)!write(pty_.master, &out, 1);
            }
        }
    }

    PtyPair pty_;
    Policy policy_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::uint8_t> received_;
    std::thread thread_;
};
