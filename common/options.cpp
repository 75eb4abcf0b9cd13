#include "common/options.h"

#include <getopt.h>

#include <algorithm>

#include "common/escape.h"

namespace common {
namespace {

constexpr int kLongOnly = 256;  // getopt's value for a long-only option: this plus its place

std::string Unknown(const std::string& arg) {
    return "unknown option '" + Escaped(arg, kShownWord) + "' (see --help)";
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                      CommandLine& line, std::string& error) {
    line = CommandLine{};
    const auto separator = std::find(args.begin(), args.end(), "--");
    line.separator = separator != args.end();
    if (line.separator) {
        line.afterSeparator.assign(separator + 1, args.end());
    }
    // Long names whole: getopt_long would take any unambiguous start.
    for (auto arg = args.begin(); arg != separator; ++arg) {
        if (arg->rfind("--", 0) == 0) {
            const std::string name = arg->substr(2, arg->find('=') - 2);
            if (std::none_of(specs.begin(), specs.end(),
                             [&](const OptionSpec& s) { return name == s.name; })) {
                error = Unknown(arg->substr(0, arg->find('=')));
                return false;
            }
        }
    }
    std::vector<option> longOptions;
    std::string shortOptions = ":";  // a missing value is ':', not '?'
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const int id = specs[i].shortName != 0 ? specs[i].shortName : kLongOnly + static_cast<int>(i);
        longOptions.push_back(
            {specs[i].name, specs[i].takesValue ? required_argument : no_argument, nullptr, id});
        if (specs[i].shortName != 0) {
            shortOptions += specs[i].shortName;
            shortOptions += specs[i].takesValue ? ":" : "";
        }
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});
    auto specOf = [&](int id) {
        for (std::size_t i = 0; i < specs.size(); ++i) {
            if ((specs[i].shortName != 0 && specs[i].shortName == id) ||
                kLongOnly + static_cast<int>(i) == id) {
                return i;
            }
        }
        return specs.size();
    };
    std::vector<std::string> words = {"program"};
    words.insert(words.end(), args.begin(), separator);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());
    opterr = 0;
    optind = 0;  // a fresh scan, for every call in one process
    for (int c;
         (c = getopt_long(argc, argv.data(), shortOptions.c_str(), longOptions.data(), nullptr)) != -1;) {
        const std::string given = argv[static_cast<std::size_t>(optind - 1)];
        if (c == '?' || c == ':') {
            const std::size_t spec = specOf(optopt);
            if (spec == specs.size()) {
                error = Unknown(given);
            } else {
                error = std::string("option --") + specs[spec].name +
                        (c == ':' ? " needs a value" : " takes no value");
            }
            return false;
        }
        const std::size_t spec = specOf(c);
        const std::string value = specs[spec].takesValue && optarg != nullptr ? optarg : "";
        if (specs[spec].takesValue && value.empty()) {
            error = std::string("option --") + specs[spec].name + " needs a value";
            return false;
        }
        line.options.push_back({spec, value});
    }
    line.operands.assign(argv.begin() + static_cast<std::ptrdiff_t>(optind), argv.end() - 1);
    return true;
}

}  // namespace common
