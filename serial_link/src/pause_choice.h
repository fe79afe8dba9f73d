// The choice between two ways of pausing, made from the first pauses of a
// run: the Windows pauses try their high-resolution timer and Sleep in turn
// and keep the one that overran less.
#pragma once

#include <algorithm>
#include <cstdint>

class PauseChoice {
  public:
    // Pauses each way takes before the choice.
    static constexpr int kTrials = 8;

    // Whether the next pause takes the timer: the two ways in turn, the
    // timer first, until each has had its trials; then the way whose median
    // overrun was smaller, so that one pause the system held up cannot
    // decide, and the timer when they are equal.
    bool use_timer() const {
        if (tried_[0] < kTrials || tried_[1] < kTrials) {
            return tried_[0] <= tried_[1];
        }
        return median(0) <= median(1);
    }

    // Notes how late (ns) a pause taken the way `timer` says ended.
    void record(bool timer, std::int64_t late_ns) {
        const int way = timer ? 0 : 1;
        if (tried_[way] < kTrials) {
            late_ns_[way][tried_[way]++] = late_ns;
        }
    }

  private:
    std::int64_t median(int way) const {
        std::int64_t sorted[kTrials];
        std::copy(late_ns_[way], late_ns_[way] + kTrials, sorted);
        std::nth_element(sorted, sorted + kTrials / 2, sorted + kTrials);
        return sorted[kTrials / 2];
    }

    int tried_[2] = {0, 0};  // [0] the timer, [1] Sleep
    std::int64_t late_ns_[2][kTrials] = {};
};
