// The pauses' overshoot corrector, shared by the platforms' pause files: the
// early aim that keeps pauses at their floor.
//
// Waking from a sleep costs the system some tens of microseconds past the
// deadline, more inside a virtual machine. Thousands of pauses make up an
// erase run, so each sleep aims early by the smallest wake-up delay seen in
// the last kWindow sleeps, and sleeps again for the rest should it wake
// before the deadline. A pause therefore never ends early, and ends late only
// by the wake-up delay's jitter, not by the delay itself.
#pragma once

#include <algorithm>
#include <cstdint>

class WakeDelays {
  public:
    static constexpr int kWindow = 16;
    static constexpr std::int64_t kMaxLeadNs = 1000000;

    void add(std::int64_t ns) {
        seen_[next_] = std::clamp<std::int64_t>(ns, 0, kMaxLeadNs);
        next_ = (next_ + 1) % kWindow;
        count_ = std::min(count_ + 1, kWindow);
    }
    std::int64_t smallest() const {
        return count_ == 0 ? 0 : *std::min_element(seen_, seen_ + count_);
    }

  private:
    std::int64_t seen_[kWindow] = {};
    int next_ = 0;
    int count_ = 0;
};

// Pauses `ms` (> 0) milliseconds with the early aim: `now_ns()` reads a
// steady clock in ns, `sleep_until_ns(t)` sleeps until about t on it (it may
// wake early or late, never spins). Returns how late the pause ended, in ns.
template <class NowNs, class SleepUntilNs>
std::int64_t pause_aiming_early(int ms, WakeDelays& delays, NowNs now_ns,
                                SleepUntilNs sleep_until_ns) {
    const std::int64_t deadline = now_ns() + ms * std::int64_t{1000000};
    const std::int64_t aim = deadline - std::min(delays.smallest(), ms * std::int64_t{500000});
    sleep_until_ns(aim);
    std::int64_t now = now_ns();
    delays.add(now - aim);
    while (now < deadline) {
        sleep_until_ns(deadline);
        now = now_ns();
    }
    return now - deadline;
}
