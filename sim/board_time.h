// The simulated board's time. Every model takes its time from here, never
// from the host directly.
#pragma once

#include <cstdint>

namespace sim {

enum class TimeMode {
    Real,     // follows the host's monotonic clock; sleeps really sleep
    Virtual,  // each register access costs kBusAccessNs; sleeps cost nothing
};

// Time one register access takes on the simulated bus in virtual time.
inline constexpr std::uint64_t kBusAccessNs = 100;

class BoardTime {
  public:
    explicit BoardTime(TimeMode mode);

    TimeMode mode() const { return mode_; }

    // Nanoseconds since the board was powered on.
    std::uint64_t Now() const;

    // Virtual time: `ns` pass at once. Real time: nothing to do, the host's
    // clock moves by itself.
    void Advance(std::uint64_t ns) {
        if (mode_ == TimeMode::Virtual) {
            virtualNs_ += ns;
        }
    }

    // Lets `ns` pass: at once in virtual time; in real time by sleeping,
    // resuming after signals unless the run is stopping. False if woken
    // early.
    bool Sleep(std::uint64_t ns);

  private:
    TimeMode mode_;
    std::uint64_t virtualNs_ = 0;
    std::uint64_t realStartNs_ = 0;
};

// The host's monotonic clock in nanoseconds.
std::uint64_t MonotonicNs();

}  // namespace sim
