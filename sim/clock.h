// The simulated board's clock. Every model takes its time from here, never
// from the host directly.
#pragma once

#include <cstdint>

namespace sim {

enum class TimeMode {
    Real,     // follows the host's monotonic clock; sleeps really sleep
    Virtual,  // each register access costs kBusAccessNs; sleeps cost nothing
};

// Time one register access takes on the simulated bus in virtual mode.
inline constexpr std::uint64_t kBusAccessNs = 100;

class Clock {
  public:
    explicit Clock(TimeMode mode);

    TimeMode mode() const { return mode_; }

    // Nanoseconds since the board was powered on.
    std::uint64_t Now() const;

    // Accounts for one bus access.
    void Access() {
        if (mode_ == TimeMode::Virtual) {
            virtualNs_ += kBusAccessNs;
        }
    }

    // Virtual mode: advances the clock. Real mode: sleeps until the deadline,
    // resuming after signals, unless `stop` becomes nonzero. Returns false if
    // it stopped early.
    bool Sleep(std::uint64_t ns, const volatile int* stop);

  private:
    friend class Board;  // its fast status path advances virtual time itself

    TimeMode mode_;
    std::uint64_t virtualNs_ = 0;
    std::uint64_t realStartNs_ = 0;
};

// Host monotonic clock in nanoseconds.
std::uint64_t MonotonicNs();

}  // namespace sim
