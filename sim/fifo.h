// Fixed-depth FIFO of port frames.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim {

template <std::size_t Depth>
class FrameFifo {
  public:
    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == Depth; }
    std::size_t size() const { return count_; }
    void clear() { head_ = count_ = 0; }

    // Callers check full() / empty() first: the hardware decides what an
    // overflow or underflow means, not the FIFO.
    void push(std::uint32_t frame) {
        slots_[(head_ + count_) % Depth] = frame;
        ++count_;
    }
    std::uint32_t pop() {
        const std::uint32_t frame = slots_[head_];
        head_ = (head_ + 1) % Depth;
        --count_;
        return frame;
    }
    std::uint32_t at(std::size_t i) const { return slots_[(head_ + i) % Depth]; }

  private:
    std::array<std::uint32_t, Depth> slots_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

}  // namespace sim
