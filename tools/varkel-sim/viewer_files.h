// Files that open a run's waveform in a viewer, ready to read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/board.h"

namespace varkel_sim {

// Finds what a viewer opens on: the first burst of frames on the wire
// between `startNs` and `endNs` (frames less than 16 bit times apart).
class FirstBurst : public sim::BoardListener {
  public:
    FirstBurst(std::uint64_t startNs, std::uint64_t endNs) : startNs_(startNs), endNs_(endNs) {}
    void OnFrameEnd(const sim::Frame& frame, std::uint64_t endNs, sim::FrameFate fate) override;
    const std::vector<sim::Frame>& frames() const { return frames_; }

  private:
    std::uint64_t startNs_, endNs_;
    std::vector<sim::Frame> frames_;
    bool closed_ = false;
};

// The save file beside a dump: "run.vcd" gives "run.gtkw".
std::string GtkwavePath(const std::string& vcdPath);

// A GTKWave save file for the dump at `vcdPath`: the four pins in order,
// the view on `burst` (the first message), and a named marker at each of
// its frames, labelled with the byte, so the message reads at a glance.
std::string GtkwaveSaveFile(const std::string& vcdPath, const std::vector<sim::Frame>& burst);

}  // namespace varkel_sim
