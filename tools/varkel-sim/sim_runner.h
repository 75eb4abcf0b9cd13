// varkel-sim: runs the test program on the simulated board.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/board.h"

namespace runner {

inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

struct Options {
    sim::BoardOptions board;
    std::vector<std::uint32_t> refuseReserve;
    std::vector<std::uint32_t> refuseBind;
    std::string wirePath;
    std::string debugLogPath;
    std::string vcdPath;
    std::string tracePath;
    std::string summaryJsonPath;
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name. On a bad one, returns
// nothing and sets `error` to one line.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

// The figures of one run, as the summary gives them.
struct Summary {
    int exitStatus = 0;
    bool interrupted = false;
    std::uint64_t framesOnWire = 0;
    std::uint64_t framesDropped = 0;
    std::uint64_t sendsGaveUp = 0;
    std::uint64_t framesLeftInFifo = 0;
    std::uint64_t framesReceived = 0;
    std::uint64_t receiveDropped = 0;
    std::uint64_t registerAccesses = 0;
    std::uint64_t noDeviceAccesses = 0;
    std::uint64_t unknownRegisterAccesses = 0;
    std::uint64_t strayAccesses = 0;
    std::uint64_t simulatedNs = 0;
    std::uint64_t realNs = 0;
};

std::string SummaryText(const Summary& summary);
std::string SummaryJson(const Summary& summary);

// Runs varkel-sim with `args` (program name excluded) and returns its exit
// status. Its own messages go to `err`, each line prefixed "varkel-sim: ".
// While it runs, a nonzero *stop ends the run at the next chance, with
// every output file completed, and the process exits with status 130.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const volatile int* stop = nullptr);

// The process entry: makes SIGINT and SIGTERM end the run cleanly, then Run.
int Main(int argc, char** argv);

}  // namespace runner
