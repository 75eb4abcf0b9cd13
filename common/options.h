// The tools' command lines, read one way: GNU getopt_long under a table of
// the options each tool takes. `--name value` and `--name=value` mean the
// same; a short name (`-h`) stands for its long one; `--` ends the options,
// and what follows is the tool's to use as it stands. Names must be given
// whole (no abbreviations). Every mistake is one line, in the same words
// for every tool.
#pragma once

#include <string>
#include <vector>

namespace common {

struct OptionSpec {
    const char* name;  // the long name, without "--"
    char shortName;    // 0 for none
    bool takesValue;
};

struct GivenOption {
    std::size_t spec;  // its place in the table
    std::string value;
};

struct CommandLine {
    std::vector<GivenOption> options;   // in the order given
    std::vector<std::string> operands;  // the arguments that are not options, before "--"
    std::vector<std::string> afterSeparator;
    bool separator = false;  // "--" was given
};

// Reads `args` (the program's name left out) against `specs`. False, with
// one line in `error`, for an option not in the table, a value given to one
// that takes none, or a value missing or empty.
bool ParseCommandLine(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                      CommandLine& line, std::string& error);

}  // namespace common
