// varkel-sim: runs the test program on the simulated board.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace varkel_sim {

inline constexpr int kExitUsage = 2;
inline constexpr int kExitStrictFail = 3;

// Runs varkel-sim with `args` (program name excluded) and returns its exit
// status. Its own messages go to `err`, each line prefixed "varkel-sim: ";
// --help and --version to `out`. The program's text goes to descriptors 1
// and 2 unless options send it elsewhere.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The process entry: makes descriptors 0 to 2 valid, routes SIGINT,
// SIGTERM, SIGHUP and SIGPIPE to a clean stop, then Run.
int Main(int argc, char** argv);

}  // namespace varkel_sim
