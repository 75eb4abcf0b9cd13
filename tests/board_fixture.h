// A fresh simulated board for each test, with the program's globals reset,
// its text captured and its platform calls recorded.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/host/host_platform.h"
#include "sim/board.h"

// Runs varkel-sim in this process with the program's console and debug
// output (fd 1 and 2) sent to files, as a script would.
int RunSimulatorQuietly(const std::vector<std::string>& args, const std::string& consolePath,
                        const std::string& stderrPath, std::ostream& out, std::ostream& err);

// Every register access, as the board saw it.
struct AccessRecorder : sim::BoardListener {
    std::vector<sim::Access> accesses;
    void OnAccess(const sim::Access& access) override { accesses.push_back(access); }
};

struct FrameRecorder : sim::BoardListener {
    std::vector<sim::Frame> frames;
    void OnFrame(const sim::Frame& frame) override { frames.push_back(frame); }
};

class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override { MakeBoard(sim::BoardOptions{}); }
    void TearDown() override;

    // Replaces the board; faults and recorders start empty.
    void MakeBoard(const sim::BoardOptions& options);
    void RecordAccesses();

    // Maps the three windows as the program does and sets the port up.
    void MapAndConfigure();

    std::vector<host::CallRecord> CallsOf(host::Call call) const;
    std::uint64_t StatusReads() const;

    std::unique_ptr<sim::Board> board;
    AccessRecorder accesses;
    FrameRecorder frames;
    std::vector<host::CallRecord> calls;
    std::string debugText;
    std::string consoleText;
};
