#include "sim/board_time.h"

#include <cerrno>
#include <ctime>

#include "common/stop.h"

namespace sim {

std::uint64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

BoardTime::BoardTime(TimeMode mode) : mode_(mode), realStartNs_(MonotonicNs()) {}

std::uint64_t BoardTime::Now() const {
    return mode_ == TimeMode::Virtual ? virtualNs_ : MonotonicNs() - realStartNs_;
}

bool BoardTime::Sleep(std::uint64_t ns) {
    if (mode_ == TimeMode::Virtual) {
        virtualNs_ += ns;
        return true;
    }
    const std::uint64_t deadline = MonotonicNs() + ns;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadline / 1000000000u);
    ts.tv_nsec = static_cast<long>(deadline % 1000000000u);
    for (;;) {
        const int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
        if (common::StopRequested()) {
            return false;
        }
        if (rc != EINTR) {
            return true;
        }
    }
}

}  // namespace sim
