// Packed logic samples, as an analyser delivers them (a session file's
// entries, or a live acquisition's packets), turned into level changes of
// the three lines. Pieces may end anywhere, inside a sample too: the
// changes are the same however the stream is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/varkel-check/capture/capture.h"

namespace varkel_check {

class LogicStream {
  public:
    static constexpr std::size_t kMaxUnitBytes = 8;

    // `unitBytes` per sample (1 to kMaxUnitBytes); line i is bit `bit[i]` of
    // each sample (0 to 8 * unitBytes - 1), counted from the first byte's
    // lowest.
    LogicStream(std::size_t unitBytes, const int (&bit)[kLines], CaptureSink& sink);
    void Take(std::string_view bytes);
    // Samples taken whole so far: the next one's tick.
    std::uint64_t count() const { return tick_; }
    // A sample left incomplete by the pieces so far.
    bool partial() const { return carried_ != 0; }

  private:
    void One(const unsigned char* sample);

    std::size_t unit_;
    CaptureSink& sink_;
    unsigned byte_[kLines] = {}, shift_[kLines] = {};
    unsigned last_ = ~0u;  // no sample yet
    std::uint64_t tick_ = 0;
    unsigned char carry_[kMaxUnitBytes] = {};
    std::size_t carried_ = 0;
};

}  // namespace varkel_check
