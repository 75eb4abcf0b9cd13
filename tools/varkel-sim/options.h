// varkel-sim's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/host_platform.h"
#include "sim/board.h"

namespace varkel_sim {

struct Options {
    sim::TimeMode time = sim::TimeMode::Real;  // one message a second, as on the board
    sim::RxdLine rxd = sim::RxdLine::High;
    platform::host::FaultPlan faults;      // the board's and the platform's, parsed once
    std::vector<std::string> programArgs;  // after "--", handed to the program
    std::string binaryPath;                // a board binary to run under the emulator instead
    std::string wirePath;
    std::string vcdPath;
    std::string tracePath;
    std::string debugLogPath;
    std::string consoleLogPath;
    std::string summaryJsonPath;
    bool hasVcdWindow = false;
    std::uint64_t vcdStartNs = 0;
    std::uint64_t vcdEndNs = 0;
    bool quiet = false;
    bool strict = false;
    bool compare = false;  // hold the binary against the program built in
    bool help = false;
    bool version = false;
};

// Requests the program makes, which a fault may refuse.
inline constexpr std::uint32_t kProgramReservations = 3;
inline constexpr std::uint32_t kProgramBindings = 3;

extern const char* const kUsage;

// Parses the arguments after the program name. On a bad one, returns
// nothing and sets `error` to one line, with the argument's control
// characters escaped.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

const char* RxdName(sim::RxdLine line);

}  // namespace varkel_sim
