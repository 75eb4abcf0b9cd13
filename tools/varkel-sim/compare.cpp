#include "tools/varkel-sim/compare.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "common/escape.h"
#include "common/stop.h"
#include "tools/varkel-sim/options.h"
#include "tools/varkel-sim/sim_runner.h"

namespace varkel_sim {
namespace {

// The outputs compared, in the order a difference is looked for.
struct Output {
    const char* option;  // the output's option, or null: what varkel-sim said
    const char* name;
};
constexpr Output kOutputs[] = {
    {nullptr, "exit status"},     {"--wire", "wire"},
    {"--trace", "trace"},         {"--debug-log", "debug channel"},
    {"--console-log", "console"}, {"--summary-json", "summary JSON"},
    {nullptr, "summary"},
};

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What must differ between the file and the program built in, and only
// that, is set aside:
//  - the build stamp's date and time values, the line's form kept;
//  - the backend's one line on a mapping its kernel refused, in its exact
//    form, only in the file's run and only when a fault refuses one;
//  - real time, and the file's name and hash.
std::vector<std::string> Comparable(const Output& output, const std::string& text, bool binary,
                                    bool kernelRefuses) {
    static const std::regex stamp(
        R"(^(.* built )(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-9]{4} )"
        R"([0-2][0-9]:[0-5][0-9]:[0-6][0-9]\r$)");
    static const std::regex refused(R"(^varkel: cannot (open|map) /dev/mem for 0x[0-9A-F]{8}: [^\r]+$)");
    std::vector<std::string> lines;
    int refusals = 0;
    for (const std::string& line : SplitLines(text)) {
        const std::string name = output.name;
        if (name == "debug channel") {
            std::smatch match;
            if (std::regex_match(line, match, stamp)) {
                lines.push_back(match[1].str() + "<date> <time>\r");
                continue;
            }
            if (binary && kernelRefuses && refusals == 0 && std::regex_match(line, refused)) {
                ++refusals;
                continue;
            }
        } else if (name == "summary JSON") {
            if (line.find("\"real_ns\"") != std::string::npos ||
                line.find("\"binary\"") != std::string::npos) {
                continue;
            }
        } else if (name == "summary") {
            if (line.rfind("varkel-sim: real time", 0) == 0 || line.rfind("varkel-sim: binary: ", 0) == 0) {
                continue;
            }
        }
        lines.push_back(line);
    }
    return lines;
}

std::string Shown(const std::string& line) {
    return "\"" + common::Escaped(line, common::kShownWord) + "\"";
}

}  // namespace

int RunCompare(const Options& o, const std::vector<std::string>& args, std::ostream& err) {
    if (o.binaryPath.empty()) {
        err << "varkel-sim: --compare needs --binary FILE: it holds that file against the program built in"
            << std::endl;
        return kExitUsage;
    }
    for (const std::string* path :
         {&o.wirePath, &o.vcdPath, &o.tracePath, &o.debugLogPath, &o.consoleLogPath, &o.summaryJsonPath}) {
        if (!path->empty()) {
            err << "varkel-sim: --compare writes no outputs: it compares its own (drop --wire, --vcd, "
                   "--trace, "
                   "--debug-log, --console-log, --summary-json)"
                << std::endl;
            return kExitUsage;
        }
    }
    const bool timeGiven = std::any_of(args.begin(), std::find(args.begin(), args.end(), "--"),
                                       [](const std::string& arg) { return arg.rfind("--time", 0) == 0; });
    if (o.time != sim::TimeMode::Virtual && timeGiven) {
        err << "varkel-sim: --compare runs in virtual time" << std::endl;
        return kExitUsage;
    }
    for (const std::string& fault : o.faults.given) {
        if (fault.rfind("devmem-", 0) == 0) {
            err << "varkel-sim: --compare cannot hold fault '" << fault
                << "' against the program built in, which has no kernel" << std::endl;
            return kExitUsage;
        }
    }
    const bool kernelRefuses = std::any_of(o.faults.given.begin(), o.faults.given.end(),
                                           [](const std::string& f) { return f.rfind("bind:", 0) == 0; });
    const char* tmp = std::getenv("TMPDIR");
    std::string folder =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/varkel-compare-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        err << "varkel-sim: cannot make a working folder for --compare" << std::endl;
        return kExitUsage;
    }
    struct Cleanup {
        std::string path;
        ~Cleanup() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } cleanup{folder};

    // The same command line twice, less --compare (and, the second time,
    // less --binary FILE), each with its outputs in the folder.
    std::vector<std::string> given;
    bool afterSeparator = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        afterSeparator = afterSeparator || args[i] == "--";
        if (!afterSeparator && args[i] == "--compare") {
            continue;
        }
        given.push_back(args[i]);
    }
    struct Side {
        std::string said;
        int status = 0;
        std::string dir;
    } sides[2];
    for (int side = 0; side < 2; ++side) {
        sides[side].dir = folder + (side == 0 ? "/binary" : "/built-in");
        std::filesystem::create_directory(sides[side].dir);
        std::vector<std::string> run = {"--time", "virtual", "--quiet"};
        for (const Output& output : kOutputs) {
            if (output.option != nullptr) {
                run.insert(run.end(), {output.option, sides[side].dir + "/" + (output.option + 2)});
            }
        }
        bool skipNext = false, separator = false;
        for (const std::string& arg : given) {
            separator = separator || arg == "--";
            if (skipNext) {
                skipNext = false;
                continue;
            }
            if (side == 1 && !separator && (arg == "--binary" || arg.rfind("--binary=", 0) == 0)) {
                skipNext = arg == "--binary";
                continue;
            }
            run.push_back(arg);
        }
        std::ostringstream out, said;
        sides[side].status = Run(run, out, said);
        sides[side].said = said.str();
        if (common::StopRequested()) {
            return 128 + common::StopSignal();
        }
    }
    if (sides[0].status == kExitUsage || sides[1].status == kExitUsage) {
        // A tool error in either run is the comparison's: say it, whole.
        const Side& broken = sides[0].status == kExitUsage ? sides[0] : sides[1];
        err << broken.said
            << "varkel-sim: --compare: " << (&broken == &sides[0] ? "the file's" : "the built-in")
            << " run failed (said above)" << std::endl;
        return kExitUsage;
    }
    for (const Output& output : kOutputs) {
        std::vector<std::string> lines[2];
        for (int side = 0; side < 2; ++side) {
            const std::string text =
                output.option != nullptr ? Slurp(sides[side].dir + "/" + (output.option + 2))
                : std::string(output.name) == "exit status" ? std::to_string(sides[side].status) + "\n"
                                                            : sides[side].said;
            lines[side] = Comparable(output, text, side == 0, kernelRefuses);
        }
        const std::size_t common = std::min(lines[0].size(), lines[1].size());
        std::size_t at = 0;
        while (at < common && lines[0][at] == lines[1][at]) {
            ++at;
        }
        if (at == common && lines[0].size() == lines[1].size()) {
            continue;
        }
        const auto text = [&](int side) {
            return at < lines[side].size() ? Shown(lines[side][at])
                                           : std::string("(no line: it ends before)");
        };
        err << "varkel-sim: --compare: different: the " << output.name << " differs first at line " << at + 1
            << ": " << common::Escaped(o.binaryPath, common::kShownPath) << " has " << text(0)
            << ", the program built in " << text(1) << std::endl;
        return 1;
    }
    err << "varkel-sim: --compare: identical: every output of "
        << common::Escaped(o.binaryPath, common::kShownPath) << " and of the program built in (exit status "
        << sides[0].status << "; " << SplitLines(Slurp(sides[0].dir + "/wire")).size() << " frames, "
        << SplitLines(Slurp(sides[0].dir + "/trace")).size() << " trace lines)" << std::endl;
    return 0;
}

}  // namespace varkel_sim
