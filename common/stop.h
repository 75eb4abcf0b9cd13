// Whether the run is stopping. One flag, set once: by a signal handler (the
// signal that asked), or by the run's own code (no signal). Everything that
// waits (a write to a slow reader, a sleep, a wait for a FIFO's reader, the
// next platform call) looks at it and gives up, so a run ends promptly and
// the way it always ends.
#pragma once

namespace common {

// Asks the run to stop. Safe in a signal handler; the first request wins.
// `signal` is the signal that asked, or 0 for the run's own reasons.
void RequestStop(int signal) noexcept;
bool StopRequested() noexcept;
// The signal that asked, or 0.
int StopSignal() noexcept;
// For a new run in the same process (tests).
void ClearStop() noexcept;

}  // namespace common
