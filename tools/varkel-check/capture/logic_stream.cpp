#include "tools/varkel-check/capture/logic_stream.h"

#include <algorithm>
#include <cstring>

namespace varkel_check {

// Callers check the sample size; one out of range is held to it, so the
// carry is never written past.
LogicStream::LogicStream(std::size_t unitBytes, const int (&bit)[kLines], CaptureSink& sink)
    : unit_(std::clamp<std::size_t>(unitBytes, 1, kMaxUnitBytes)), sink_(sink) {
    for (int i = 0; i < kLines; ++i) {
        byte_[i] = static_cast<unsigned>(bit[i]) / 8;
        shift_[i] = static_cast<unsigned>(bit[i]) % 8;
    }
}

void LogicStream::Take(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    if (carried_ != 0) {  // a sample split between two pieces
        const std::size_t more = std::min(unit_ - carried_, n);
        std::memcpy(carry_ + carried_, p, more);
        carried_ += more;
        p += more;
        n -= more;
        if (carried_ < unit_) {
            return;
        }
        One(carry_);
        carried_ = 0;
    }
    for (; n >= unit_; p += unit_, n -= unit_) {
        One(p);
    }
    std::memcpy(carry_, p, n);  // under one sample
    carried_ = n;
}

void LogicStream::One(const unsigned char* sample) {
    unsigned levels = 0;
    for (int i = 0; i < kLines; ++i) {
        levels |= ((sample[byte_[i]] >> shift_[i]) & 1u) << i;
    }
    if (levels != last_) {
        for (int i = 0; i < kLines; ++i) {
            if (tick_ == 0 || ((levels ^ last_) >> i & 1u) != 0) {
                sink_.Change(tick_, static_cast<Line>(i), (levels >> i & 1u) != 0 ? '1' : '0');
            }
        }
        last_ = levels;
    }
    ++tick_;
}

}  // namespace varkel_check
