// The driver on the board model: the traffic the model's replies and
// timing make of the driver's calls (how soon the FIFO frees a slot, what
// comes in on the receive line, its reset values), stated as the board's
// manual would. The driver's own traffic, whatever the replies, is in
// ssp_driver_test.cpp. Nothing here is taken from the program's headers.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "hw/reg_io.h"
#include "ssp/ssp.h"
#include "tests/board_fixture.h"

namespace {

using namespace manual;  // the board's registers
constexpr const std::uint8_t (&kMessage)[9] = kProgramMessage;

class DriverOnBoardTest : public BoardTest {};

TEST_F(DriverOnBoardTest, SetUpFromResetIsExactlyThisTraffic) {
    MapWindows();
    ConfigureSspPort();
    EXPECT_EQ(traffic.traffic, SetUpTrafficFromReset(0x607));  // the model's replies are the manual's
    EXPECT_TRUE(board->routing() == (sim::Routing{true, true, true, true}));
}

TEST_F(DriverOnBoardTest, SetUpKeepsEveryBitItDoesNotOwn) {
    for (const std::uint32_t garbage : {0xFFFFFFFFu, 0xA5A5A5A5u, 0x5A5A5A5Au, 0u}) {
        SCOPED_TRACE(garbage);
        MakeBoard({});
        MapWindows();
        RegWrite(GpioRegPtr, 0x14, garbage);
        RegWrite(GpioRegPtr, 0x68, garbage);
        RegWrite(v_pClkRegs, 0x04, garbage);
        SspClockRate = 0x2A;
        ConfigureSspPort();
        EXPECT_EQ(board->gpio().direction64, (garbage | 0x1A0000u) & ~0x40000u);
        EXPECT_EQ(board->gpio().altFunction80, (garbage & ~0x3FCu) | 0x154u);
        EXPECT_EQ(board->clockManager().enable, garbage | 0x200u);
        EXPECT_EQ(RegRead(SspRegPtr, 0x00), 0x2A87u);
    }
}

TEST_F(DriverOnBoardTest, ClockRateIsCutToItsEightBitField) {
    for (const auto& [rate, control0] :
         {std::pair{0x1FF, 0xFF07u}, std::pair{-1, 0xFF07u}, std::pair{0x100, 0x07u}}) {
        SCOPED_TRACE(rate);
        MakeBoard({});
        MapWindows();
        SspClockRate = rate;
        ConfigureSspPort();
        const Traffic write{'W', kControl0, control0};
        EXPECT_EQ(std::count(traffic.traffic.begin(), traffic.traffic.end(), write), 1);
    }
}

TEST_F(DriverOnBoardTest, SendStoresEachByteAfterOneStatusRead) {
    MapAndConfigure();
    EXPECT_EQ(SspSendBuffer(kMessage, 9), 1);
    std::vector<Traffic> expected;
    for (const std::uint8_t byte : kMessage) {
        expected.push_back({'R', kStatus, 0x04});
        expected.push_back({'W', kData, byte});
    }
    EXPECT_EQ(traffic.traffic, expected);
    EXPECT_EQ(debugText, "Data sent:     0x5A454C204E53535000\r\n");
}

TEST_F(DriverOnBoardTest, StallOnTheThirdByteWaitsForRoomAndKeepsOrder) {
    MapAndConfigure();
    for (int i = 0; i < 15; ++i) {  // one frame shifting, fourteen queued
        SspWriteByte(0xEE);
    }
    traffic = {};
    EXPECT_EQ(SspSendBuffer(kMessage, 9), 1);
    // 700 ns bits: the FIFO frees a slot when the next frame starts, one
    // idle bit after the last one ended; by then a frame has come in on the
    // receive line, which idles high.
    std::vector<Traffic> expected = {{'R', kStatus, 0x04}, {'W', kData, 0x5A},       {'R', kStatus, 0x04},
                                     {'W', kData, 0x45},   {'R', kStatus, 0x00, 37}, {'R', kStatus, 0x08, 7},
                                     {'R', kStatus, 0x0C}, {'W', kData, 0x4C}};
    for (std::size_t i = 3; i < 9; ++i) {
        expected.insert(expected.end(),
                        {{'R', kStatus, 0x08, 61}, {'R', kStatus, 0x0C}, {'W', kData, kMessage[i]}});
    }
    EXPECT_EQ(traffic.traffic, expected);
}

TEST_F(DriverOnBoardTest, SendGivesUpAfterTheBoundedNumberOfReads) {
    MakeBoard({.faults = {.txStuck = true}});
    MapAndConfigure();
    EXPECT_EQ(SspSendBuffer(kMessage, 3), 0);
    EXPECT_EQ(traffic.traffic, (std::vector<Traffic>{{'R', kStatus, 0x00, 262144}}));
    EXPECT_EQ(debugText, "Data sent:     0x\r\n");
    EXPECT_EQ(giveUps.sendsGaveUp(), 1u);
}

TEST_F(DriverOnBoardTest, ReadWaitsForAFrameThenTakesItsLowByte) {
    MakeBoard({.rxd = sim::RxdLine::Loopback});
    MapAndConfigure();
    EXPECT_EQ(SspWriteByte(0x1234ABA7), 1);  // stored whole; the port keeps 8 bits
    EXPECT_EQ(SspReadByte(), 0xA7);
    EXPECT_EQ(
        traffic.traffic,
        (std::vector<Traffic>{
            {'W', kData, 0x1234ABA7}, {'R', kStatus, 0x04, 55}, {'R', kStatus, 0x0C}, {'R', kData, 0xA7}}));
}

TEST_F(DriverOnBoardTest, ReadKeepsTheLowByteOfAWiderFrame) {
    MakeBoard({.rxd = sim::RxdLine::Loopback});
    MapAndConfigure();
    RegWrite(SspRegPtr, 0x00, 0x0688);  // 9-bit frames, the rest as set up
    EXPECT_EQ(SspWriteByte(0x1A5), 1);
    EXPECT_EQ(SspReadByte(), 0xA5);
    ASSERT_EQ(frames.ended.size(), 1u);
    EXPECT_EQ(frames.ended[0].frame.value, 0x1A5u);  // all nine bits went round
    EXPECT_EQ(frames.ended[0].frame.bits, 9u);
    EXPECT_EQ(traffic.traffic.back(), (Traffic{'R', kData, 0x1A5}));
}

TEST_F(DriverOnBoardTest, FlushEmptiesTheReceiveFifoThenClearsOverrun) {
    MakeBoard({.rxd = sim::RxdLine::Low});
    MapAndConfigure();
    ShiftFrames(0x5A, 18);  // two more than the receive FIFO holds
    traffic.traffic.clear();
    EXPECT_EQ(SspFlushReceive(), 16);
    std::vector<Traffic> expected;
    for (int i = 0; i < 16; ++i) {
        expected.push_back({'R', kStatus, 0x8C});
        expected.push_back({'R', kData, 0x00});
    }
    expected.push_back({'R', kStatus, 0x84});
    expected.push_back({'W', kStatus, 0x80});
    EXPECT_EQ(traffic.traffic, expected);
    EXPECT_EQ(RegRead(SspRegPtr, 0x08), 0x04u);  // empty, overrun cleared
}

TEST_F(DriverOnBoardTest, ReadGivesUpWithoutTakingAFrame) {
    MapAndConfigure();
    EXPECT_EQ(SspReadByte(), -1);
    EXPECT_EQ(traffic.traffic, (std::vector<Traffic>{{'R', kStatus, 0x04, 262144}}));
}

TEST_F(DriverOnBoardTest, EmptySendsAndUnmappedWindowsTouchNothing) {
    EXPECT_EQ(SspReadByte(), -1);
    EXPECT_EQ(SspWriteByte(1), 0);
    ConfigureSspPort();
    EXPECT_EQ(SspSendBuffer(kMessage, 1), 0);
    MapWindows();
    v_pClkRegs = nullptr;
    ConfigureSspPort();  // the clock window is missing
    EXPECT_EQ(SspSendBuffer(nullptr, 3), 0);
    EXPECT_EQ(SspSendBuffer(kMessage, 0), 1);
    EXPECT_EQ(SspSendBuffer(kMessage, -5), 1);
    EXPECT_EQ(SspSettleDelay(), 1);
    EXPECT_TRUE(traffic.traffic.empty());
    EXPECT_EQ(board->stats().strayAccesses, 0u);
    EXPECT_EQ(debugText,
              "Data sent:     0x\r\nData sent:     0x\r\nData sent:     0x\r\nData sent:     0x\r\n");
}

TEST_F(DriverOnBoardTest, AStoppedPortTakesSixteenFramesThenTheSendGivesUp) {
    MakeBoard({.faults = {.clockOff = true}});
    MapAndConfigure();
    EXPECT_EQ(SspSendBuffer(kMessage, 9), 1);
    EXPECT_EQ(SspSendBuffer(kMessage, 9), 0);  // the stopped port takes seven more
    EXPECT_EQ(debugText, "Data sent:     0x5A454C204E53535000\r\nData sent:     0x5A454C204E5353\r\n");
    // A long listing's text is the driver's alone: ssp_driver_test.cpp.
}

}  // namespace
