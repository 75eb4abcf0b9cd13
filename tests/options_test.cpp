// The one command-line reader both tools use: the same spellings, the same
// mistakes refused in the same words.
#include "common/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<common::OptionSpec> kSpecs = {{"help", 'h', false}, {"quiet", 0, false}, {"wire", 0, true}};

// The options read, as "name=value" or "name", then the operands, then
// what followed "--".
std::string Read(const std::vector<std::string>& args) {
    common::CommandLine line;
    std::string error;
    if (!common::ParseCommandLine(args, kSpecs, line, error)) {
        return "error: " + error;
    }
    std::string out;
    for (const common::GivenOption& o : line.options) {
        out += std::string(kSpecs[o.spec].name) + (kSpecs[o.spec].takesValue ? "=" + o.value : "") + " ";
    }
    for (const std::string& operand : line.operands) {
        out += "[" + operand + "] ";
    }
    out += line.separator ? "-- " : "";
    for (const std::string& arg : line.afterSeparator) {
        out += "{" + arg + "} ";
    }
    return out;
}

TEST(CommandLine, EachSpellingOfAnOptionReadsTheSame) {
    EXPECT_EQ(Read({"--wire", "w.txt", "--quiet"}), "wire=w.txt quiet ");
    EXPECT_EQ(Read({"--wire=w.txt", "-h"}), "wire=w.txt help ");
    EXPECT_EQ(Read({"--wire=a=b"}), "wire=a=b ");
    EXPECT_EQ(Read({"cap.vcd", "--quiet", "-"}), "quiet [cap.vcd] [-] ");
    // "--" ends the options: what follows is the tool's, options or not.
    EXPECT_EQ(Read({"--quiet", "--", "--loopback-test", "3", "--"}), "quiet -- {--loopback-test} {3} {--} ");
    EXPECT_EQ(Read({"--", "-odd.vcd"}), "-- {-odd.vcd} ");
}

TEST(CommandLine, MistakesAreOneLineInTheSameWords) {
    EXPECT_EQ(Read({"--help=please"}), "error: option --help takes no value");
    EXPECT_EQ(Read({"--quiet=no"}), "error: option --quiet takes no value");
    EXPECT_EQ(Read({"--wire"}), "error: option --wire needs a value");
    EXPECT_EQ(Read({"--wire="}), "error: option --wire needs a value");
    EXPECT_EQ(Read({"--wir", "w.txt"}), "error: unknown option '--wir' (see --help)");  // no abbreviations
    EXPECT_EQ(Read({"--bogus=1"}), "error: unknown option '--bogus' (see --help)");
    EXPECT_EQ(Read({"-q"}), "error: unknown option '-q' (see --help)");
    EXPECT_EQ(Read({"--\x1b[2J"}), "error: unknown option '--\\x1B[2J' (see --help)");
}

}  // namespace
