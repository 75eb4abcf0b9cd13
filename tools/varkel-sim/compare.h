// varkel-sim --binary FILE --compare: runs FILE and the program built in
// with the same options in virtual time and says in one line whether every
// output is identical, or which differs first, where, with both texts.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace varkel_sim {

struct Options;

// `args` are the command line as given. Exit 0 identical, 1 different, 2
// for a tool error (either run's own, said).
int RunCompare(const Options& o, const std::vector<std::string>& args, std::ostream& err);

}  // namespace varkel_sim
