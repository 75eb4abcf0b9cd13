// The end-of-run summary: every figure, the verdict, as text and as JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/board.h"
#include "tools/varkel-sim/options.h"
#include "tools/varkel-sim/program_watch.h"

namespace varkel_sim {

// Each figure of a run, in the order the summary gives them.
enum class Fig {
    FramesOnWire,
    FramesUnrouted,
    FramesCut,
    FramesDropped,
    FramesLeftInFifo,
    SendsGaveUp,
    FramesReceived,
    ReceiveDropped,
    UnmodelledSettings,
    RegisterAccesses,
    NoDeviceAccesses,
    UnknownRegisterAccesses,
    StrayAccesses,
    SimulatedNs,
    RealNs,
    Count
};

struct Figure {
    Fig id;
    const char* key;    // JSON name
    const char* label;  // words in the text summary
    std::uint64_t value;
    bool nanoseconds = false;  // shown in seconds in the text
};

struct Summary {
    std::vector<Figure> figures;
    std::string binaryPath;  // a board binary run under the emulator, or empty
    std::string binarySha256;
    int programStatus = 0;             // the program's exit status, when it returned
    int programKilledBy = 0;           // the signal that ended a board binary (a crash), or 0
    int signal = 0;                    // the signal that stopped the run, or 0
    int failedOutputs = 0;             // outputs (files, stdout, stderr) that could not be written
    std::string abandoned;             // why a register access could not be performed, ending the run
    bool notRun = false;               // ... or why the binary could not be run at all
    std::vector<std::string> unfired;  // each fault asked for that never fired, and why
    std::vector<std::string> reasons;  // why the run FAILs; none: PASS
    int exitStatus = 0;

    std::uint64_t Value(Fig figure) const { return figures.at(static_cast<std::size_t>(figure)).value; }
};

// "SIGINT" and the like.
std::string SignalName(int signal);

// The figures of a run, each declared once, here, in Fig's order.
std::vector<Figure> CollectFigures(const sim::Board& board, const GiveUpWatch& giveUps, std::uint64_t realNs);

// Why the run fails, in plain words with counts; empty when it passes.
std::vector<std::string> FailReasons(const Summary& summary);

// Lines "varkel-sim: <label>: <value>", ending with the verdict line.
std::string SummaryText(const Summary& summary);
std::string SummaryJson(const Summary& summary, const Options& options);

}  // namespace varkel_sim
