// A fresh simulated board for each test, with the program's globals reset,
// its text captured, its platform calls recorded, and the register traffic
// and frames the board saw.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/text_sink.h"
#include "platform/host/host_platform.h"
#include "sim/board.h"
#include "tests/test_files.h"
#include "tools/varkel-sim/program_watch.h"

// The program's message, as the board's manual would have the wire carry it.
inline constexpr std::uint8_t kProgramMessage[9] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};

// The board's registers at their physical addresses, from its manual.
namespace manual {
inline constexpr std::uint64_t kClockEnable = 0x41300004;
inline constexpr std::uint64_t kPinDirection = 0x40E00014;
inline constexpr std::uint64_t kAltFunction = 0x40E00068;
inline constexpr std::uint64_t kControl0 = 0x41900000;
inline constexpr std::uint64_t kControl1 = 0x41900004;
inline constexpr std::uint64_t kStatus = 0x41900008;
inline constexpr std::uint64_t kData = 0x41900010;
}  // namespace manual

// A text output held in memory.
struct StringSink : common::TextSink {
    std::string text;
    void Write(std::string_view more) override { text.append(more); }
};

// One bus access as the board's manual would state it: 'R' or 'W', the
// physical address, the value, and for a run of identical reads within one
// wait, how many.
struct Traffic {
    char op;
    std::uint64_t physical;
    std::uint32_t value;
    std::uint64_t count = 1;
    bool operator==(const Traffic&) const = default;
};
void PrintTo(const Traffic& t, std::ostream* os);

// The port's set-up from the board's reset state, as the manual states it:
// every access with its reply; `control0` is the frame and rate setting.
std::vector<Traffic> SetUpTrafficFromReset(std::uint32_t control0);

// The board's register traffic, identical consecutive reads folded until
// any other access or platform call (`fresh`, set by the fixture), as the
// trace folds them.
struct TrafficRecorder : sim::BoardListener {
    std::vector<Traffic> traffic;
    bool fresh = true;
    void OnAccess(const sim::Access& access) override;
    // Reads of one physical address, runs counted in full.
    std::uint64_t Reads(std::uint64_t physical) const;
};

struct FrameRecorder : sim::BoardListener {
    struct Ended {
        sim::Frame frame;
        std::uint64_t endNs;
        sim::FrameFate fate;
    };
    std::vector<Ended> ended;
    void OnFrameEnd(const sim::Frame& frame, std::uint64_t endNs, sim::FrameFate fate) override {
        ended.push_back({frame, endNs, fate});
    }
    // Values of the frames that reached the wire.
    std::vector<std::uint32_t> OnWire() const;
};

class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override { MakeBoard(sim::BoardOptions{}); }
    void TearDown() override;

    // Replaces the board; recorders start empty.
    void MakeBoard(const sim::BoardOptions& options);
    // Maps the three windows as the program does, at the board's addresses.
    void MapWindows();
    // And sets the port up; the recorders start empty after it.
    void MapAndConfigure();
    // Stores `value` `count` times, each after the port has shifted the last.
    void ShiftFrames(std::uint32_t value, int count);
    // The program's loop, `count` times: a message, then a second of sleep.
    void SendMessages(int count);

    std::vector<platform::host::CallRecord> CallsOf(platform::host::Call call) const;

    std::unique_ptr<sim::Board> board;
    TrafficRecorder traffic;
    FrameRecorder frames;
    varkel_sim::GiveUpWatch giveUps;  // the program's sends that gave up
    std::vector<platform::host::CallRecord> calls;
    std::string debugText;
    std::string consoleText;
};
