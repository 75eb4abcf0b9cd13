// The serial port model alone, with no board around it: what one step
// shifts and takes in, the status it derives, its faults and its reset.
#include "sim/ssp_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/board_map.h"

namespace {

namespace map = sim::map;

// The board's side, stated by the test: the receive line's replies, and
// a record of what the port said.
struct Around : sim::SspEvents {
    void FrameStarted(const sim::Frame& frame) override { started.push_back(frame); }
    void FrameEnded(const sim::Frame& frame, std::uint64_t endNs, bool complete) override {
        ended.push_back({frame.value, endNs, complete});
    }
    std::optional<std::uint32_t> ReceiveLine(const sim::Frame& frame) override {
        asked.push_back(frame.value);
        return line;
    }
    void Note(const std::string& text) override { notes.push_back(text); }

    struct Ended {
        std::uint32_t value;
        std::uint64_t endNs;
        bool complete;
        bool operator==(const Ended&) const = default;
    };
    std::optional<std::uint32_t> line = 0xA5;
    std::vector<sim::Frame> started;
    std::vector<Ended> ended;
    std::vector<std::uint32_t> asked;
    std::vector<std::string> notes;
};

constexpr std::uint32_t kEightBitsRate6 = 0x0607 | map::kPortControl0Enable;  // 700 ns a bit

std::uint32_t Status(sim::SspModel& port) {
    std::uint32_t value = 0;
    EXPECT_TRUE(port.Read(map::kPortStatus, value));
    return value;
}

// A port from reset, its clock on and 8-bit frames enabled at rate 6.
void Enable(sim::SspModel& port) {
    port.Reset();
    port.SetClockGate(true, 0);
    port.Write(map::kPortControl0, kEightBitsRate6, 0);
}

TEST(SspModel, AStepShiftsAFrameAndTakesOneInFromTheReceiveLine) {
    Around around;
    sim::Faults faults;
    sim::SspModel port(around, faults);
    Enable(port);
    port.Write(map::kPortData, 0x15A, 100);  // nine bits stored, eight shifted
    port.Sync(100 + 8 * 700 - 1);
    ASSERT_EQ(around.started.size(), 1u);
    EXPECT_EQ(around.started[0].value, 0x5Au);
    EXPECT_EQ(around.started[0].bitNs, 700u);
    EXPECT_TRUE(around.ended.empty());  // one nanosecond short of its end
    EXPECT_EQ(Status(port), map::kPortStatusTxNotFull);

    port.Sync(100 + 8 * 700);
    EXPECT_EQ(around.ended, (std::vector<Around::Ended>{{0x5A, 5700, true}}));
    EXPECT_EQ(around.asked, std::vector<std::uint32_t>{0x5A});
    EXPECT_EQ(Status(port), map::kPortStatusTxNotFull | map::kPortStatusRxNotEmpty);
    std::uint32_t in = 0;
    EXPECT_TRUE(port.Read(map::kPortData, in));
    EXPECT_EQ(in, 0xA5u);
    EXPECT_EQ(port.stats.framesReceived, 1u);

    around.line.reset();  // the receive pin not reaching the port: nothing comes in
    port.Write(map::kPortData, 0x11, 6000);
    port.Sync(20000);
    EXPECT_EQ(port.stats.framesReceived, 1u);
    EXPECT_EQ(Status(port), map::kPortStatusTxNotFull);
}

TEST(SspModel, FaultsAreReadFromTheOneStructAsTheyChange) {
    Around around;
    sim::Faults faults;
    faults.txSlow = 3;
    sim::SspModel port(around, faults);
    Enable(port);
    port.Write(map::kPortData, 1, 0);
    port.Sync(0);
    ASSERT_EQ(around.started.size(), 1u);
    EXPECT_EQ(around.started[0].bitNs, 2100u);
    port.SetTransmitStall(true);  // a stall switched on mid-run
    EXPECT_EQ(Status(port) & map::kPortStatusTxNotFull, 0u);
    port.SetTransmitStall(false);
    EXPECT_NE(Status(port) & map::kPortStatusTxNotFull, 0u);
    faults.txStuck = true;  // the fault, read where it is
    EXPECT_EQ(Status(port) & map::kPortStatusTxNotFull, 0u);
}

TEST(SspModel, ResetIsPowerOnWhateverCameBefore) {
    Around around;
    sim::Faults faults;
    sim::SspModel port(around, faults);
    Enable(port);
    std::uint64_t now = 0;
    for (int round = 0; round < 2; ++round) {  // 32 frames in: the receive FIFO overruns
        for (std::uint32_t i = 0; i < 16; ++i) {
            port.Write(map::kPortData, i, now);
        }
        now += 17 * 6300;
        port.Sync(now);
    }
    for (std::uint32_t i = 0; i < 5; ++i) {
        port.Write(map::kPortData, i, now);  // frames waiting, one shifting
    }
    port.Sync(now + 1000);
    EXPECT_EQ(Status(port),
              map::kPortStatusTxNotFull | map::kPortStatusRxNotEmpty | map::kPortStatusRxOverrun);
    port.Write(map::kPortControl1, 1, now + 1000);  // and a setting it does not model
    port.Reset();
    std::uint32_t value = 1;
    port.Read(map::kPortControl0, value);
    EXPECT_EQ(value, 0u);
    port.Read(map::kPortControl1, value);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(Status(port), map::kPortStatusTxNotFull);  // room, nothing received, no overrun
    EXPECT_EQ(port.txLevel(), 0u);
    std::uint64_t next = 0;
    EXPECT_FALSE(port.NextEvent(next));
}

}  // namespace
