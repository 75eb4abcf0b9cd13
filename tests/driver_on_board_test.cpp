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

// The board's registers, from its manual.
constexpr std::uint64_t kClockEnable = 0x41300004;
constexpr std::uint64_t kPinDirection = 0x40E00014;
constexpr std::uint64_t kAltFunction = 0x40E00068;
constexpr std::uint64_t kControl0 = 0x41900000;
constexpr std::uint64_t kControl1 = 0x41900004;
constexpr std::uint64_t kStatus = 0x41900008;
constexpr std::uint64_t kData = 0x41900010;
constexpr std::uint8_t kMessage[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};

class DriverOnBoardTest : public BoardTest {};

TEST_F(DriverOnBoardTest, SetUpFromResetIsExactlyThisTraffic) {
    MapWindows();
    ConfigureSspPort();
    // clang-format off
    const std::vector<Traffic> expected = {
        {'R', kClockEnable, 0x004003E1}, {'W', kClockEnable, 0x004001E1},  // port clock off first
        {'R', kAltFunction, 0x000}, {'W', kAltFunction, 0x004},            // pin 81: function 1
        {'R', kAltFunction, 0x004}, {'W', kAltFunction, 0x014},            // pin 82
        {'R', kAltFunction, 0x014}, {'W', kAltFunction, 0x054},            // pin 83
        {'R', kAltFunction, 0x054}, {'W', kAltFunction, 0x154},            // pin 84
        {'R', kAltFunction, 0x154},                                        // read back
        {'R', kPinDirection, 0}, {'W', kPinDirection, 0x1A0000},           // 81, 83, 84 out; 82 in
        {'W', kControl0, 0x607},                                           // 8-bit frames, rate 6
        {'W', kStatus, 0x80},                                              // clear receive overrun
        {'W', kControl1, 0},
        {'R', kControl0, 0x607}, {'W', kControl0, 0x687},                  // enable
        {'R', kClockEnable, 0x004001E1}, {'W', kClockEnable, 0x004003E1},  // port clock on last
    };
    // clang-format on
    EXPECT_EQ(traffic.traffic, expected);
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

TEST_F(DriverOnBoardTest, SendLineListsWhatWasStoredWhateverTheLength) {
    MakeBoard({.faults = {.clockOff = true}});
    MapAndConfigure();
    EXPECT_EQ(SspSendBuffer(kMessage, 9), 1);
    EXPECT_EQ(SspSendBuffer(kMessage, 9), 0);  // the stopped port takes seven more
    EXPECT_EQ(debugText, "Data sent:     0x5A454C204E53535000\r\nData sent:     0x5A454C204E5353\r\n");
    std::vector<std::uint8_t> bytes(40);
    std::string hex;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(0xC0 + i);
        hex += "0123456789ABCDEF"[bytes[i] >> 4];
        hex += "0123456789ABCDEF"[bytes[i] & 15];
    }
    MakeBoard({});
    MapAndConfigure();
    EXPECT_EQ(SspSendBuffer(bytes.data(), 40), 1);
    EXPECT_EQ(debugText, "Data sent:     0x" + hex + "\r\n");
}

}  // namespace
