// Files that open a run's waveform in a viewer, ready to read.
#pragma once

#include <string>
#include <vector>

#include "sim/ssp_model.h"

namespace runner {

// The save file beside a dump: "run.vcd" gives "run.gtkw".
std::string GtkwavePath(const std::string& vcdPath);

// A GTKWave save file for the dump at `vcdPath`: the four pins in order,
// the view on `burst` (the first message), and a named marker at each of
// its frames, labelled with the byte, so the message reads at a glance.
std::string GtkwaveSaveFile(const std::string& vcdPath, const std::vector<sim::Frame>& burst);

}  // namespace runner
