// The simulated board as an independent witness: what reaches the pins,
// what comes in on the receive line, what the clock gate and the enable
// bit do to a frame, and what it makes of settings it does not model.
#include <cstdint>
#include <string>
#include <vector>

#include "hw/reg_io.h"
#include "ssp/ssp.h"
#include "tests/board_fixture.h"

namespace {

constexpr std::uint8_t kMessage[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};
constexpr std::uint32_t kStatus = 0x08;

class BoardModelTest : public BoardTest {
  protected:
    // Lets board time pass by reading the status register `n` times.
    void Spend(int n) {
        for (int i = 0; i < n; ++i) {
            (void)RegRead(SspRegPtr, kStatus);
        }
    }
};

TEST_F(BoardModelTest, ReceiveFifoFillsAndOverrunSetsInAPlainRun) {
    MapAndConfigure();
    SendMessages(3);
    EXPECT_EQ(board->portStats().framesReceived, 16u);
    EXPECT_EQ(board->portStats().rxDropped, 11u);
    EXPECT_EQ(RegRead(SspRegPtr, kStatus), 0x8Cu);  // room, data waiting, overrun
    RegWrite(SspRegPtr, kStatus, 0x00);             // writing 0 leaves it set
    EXPECT_EQ(RegRead(SspRegPtr, kStatus), 0x8Cu);
    RegWrite(SspRegPtr, kStatus, 0x80);
    EXPECT_EQ(RegRead(SspRegPtr, kStatus), 0x0Cu);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(SspReadByte(), 0xFF);  // an unconnected receive pin reads high
    }
    EXPECT_EQ(RegRead(SspRegPtr, kStatus), 0x04u);
}

TEST_F(BoardModelTest, ReceiveLineCarriesWhatItIsGiven) {
    struct Case {
        const char* name;
        sim::RxdLine line;
        bool unrouteTxd;
        std::int32_t received;
    };
    for (const Case& c :
         {Case{"low", sim::RxdLine::Low, false, 0x00}, Case{"loopback", sim::RxdLine::Loopback, false, 0x5A},
          Case{"loopback, txd unrouted", sim::RxdLine::Loopback, true, 0xFF}}) {
        SCOPED_TRACE(c.name);
        MakeBoard({.rxd = c.line});
        MapAndConfigure();
        if (c.unrouteTxd) {
            RegWrite(GpioRegPtr, 0x14, 0x0A0000);  // pin 84 back to an input
        }
        SspWriteByte(0x5A);
        EXPECT_EQ(SspReadByte(), c.received);
    }
    MakeBoard({.rxd = sim::RxdLine::Loopback});
    MapAndConfigure();
    RegWrite(GpioRegPtr, 0x14, 0x1E0000);  // pin 82 an output: not the port's input
    SspWriteByte(0x5A);
    EXPECT_EQ(SspReadByte(), -1);
    EXPECT_EQ(frames.OnWire(), (std::vector<std::uint32_t>{0x5A}));
}

TEST_F(BoardModelTest, FramesReachTheWireOnlyWithTheTransmitPinRoutedThroughout) {
    MapAndConfigure();
    SspWriteByte(0x11);
    Spend(20);                          // mid-frame
    RegWrite(GpioRegPtr, 0x68, 0x054);  // pin 84 loses its function
    SspWriteByte(0x22);
    Spend(200);
    RegWrite(GpioRegPtr, 0x68, 0x154);
    SspWriteByte(0x33);
    Spend(100);
    ASSERT_EQ(frames.ended.size(), 3u);
    EXPECT_EQ(frames.ended[0].fate, sim::FrameFate::Unrouted);
    EXPECT_EQ(frames.ended[1].fate, sim::FrameFate::Unrouted);
    EXPECT_EQ(frames.ended[2].fate, sim::FrameFate::OnWire);
    EXPECT_EQ(board->stats().framesUnrouted, 2u);
    EXPECT_EQ(board->stats().framesOnWire, 1u);

    MakeBoard({.faults = {.pinsUnrouted = true}});
    MapAndConfigure();
    EXPECT_EQ(RegRead(GpioRegPtr, 0x68), 0u);  // the register ignored the set-up
    SendMessages(2);
    EXPECT_TRUE(frames.OnWire().empty());
    EXPECT_EQ(board->stats().framesUnrouted, 18u);
    EXPECT_EQ(board->portStats().framesReceived, 0u);  // nor is the receive pin the port's
}

TEST_F(BoardModelTest, ClosingTheClockGateOrClearingEnableCutsTheFrame) {
    struct Case {
        const char* name;
        RegisterWindow* window;
        std::uint32_t offset;
        std::uint32_t stop;
        std::uint32_t run;
    };
    for (const Case& c : {Case{"clock gate", &v_pClkRegs, 0x04, 0x004001E1, 0x004003E1},
                          Case{"enable", &SspRegPtr, 0x00, 0x607, 0x687}}) {
        SCOPED_TRACE(c.name);
        MakeBoard({.rxd = sim::RxdLine::Loopback});
        MapAndConfigure();
        SspWriteByte(0xA1);  // starts at once: 5600 ns to shift
        SspWriteByte(0xA2);  // waits in the FIFO
        Spend(20);
        const std::uint64_t stopNs = board->Now() + 100;
        RegWrite(*c.window, c.offset, c.stop);
        Spend(200);  // nothing moves while stopped
        ASSERT_EQ(frames.ended.size(), 1u);
        EXPECT_EQ(frames.ended[0].fate, sim::FrameFate::Cut);
        EXPECT_EQ(frames.ended[0].endNs, stopNs);
        const std::uint64_t runNs = board->Now() + 100;
        RegWrite(*c.window, c.offset, c.run);
        Spend(100);
        ASSERT_EQ(frames.ended.size(), 2u);
        EXPECT_EQ(frames.ended[1].frame.value, 0xA2u);
        EXPECT_EQ(frames.ended[1].frame.startNs, runNs);
        EXPECT_EQ(frames.ended[1].fate, sim::FrameFate::OnWire);
        EXPECT_EQ(board->stats().framesCut, 1u);
        EXPECT_EQ(SspReadByte(), 0xA2);  // nothing came in for the cut frame
        EXPECT_EQ(SspReadByte(), -1);
    }
}

TEST_F(BoardModelTest, UnmodelledSettingsAreNotedCountedAndStandStill) {
    std::vector<std::string> notes;
    board->onNote = [&](const std::string& line) { notes.push_back(line); };
    MapAndConfigure();
    for (const std::uint32_t control0 : {0x682u, 0x6A7u, 0x6C7u}) {  // 3-bit frames, format 2, external clock
        RegWrite(SspRegPtr, 0x00, control0);
        SspWriteByte(0x55);
        Spend(100);
        RegWrite(SspRegPtr, 0x00, control0);  // noted once, counted each time
    }
    RegWrite(SspRegPtr, 0x04, 0x1);
    RegWrite(SspRegPtr, 0x00, 0x687);
    Spend(100);
    EXPECT_TRUE(frames.ended.empty());
    // Counted at every control write made while one is set: six, then
    // control register 1 written with the external clock still selected,
    // then control register 0 made plain while control register 1 is set.
    EXPECT_EQ(board->portStats().unmodelledSettings, 8u);
    EXPECT_EQ(
        notes,
        (std::vector<std::string>{
            "serial port: a data size below 4 bits is not modelled; the port stands still while it is set",
            "serial port: a frame format other than 0 is not modelled; the port stands still while it is set",
            "serial port: the external clock is not modelled; the port stands still while it is set",
            "serial port: control register 1 is not modelled; the port stands still while it is set"}));
    RegWrite(SspRegPtr, 0x04, 0);
    Spend(600);
    EXPECT_EQ(frames.OnWire(), (std::vector<std::uint32_t>{0x55, 0x55, 0x55}));
}

TEST_F(BoardModelTest, AStoreToAFullFifoIsALostFrameNotAGaveUpSend) {
    MakeBoard({.faults = {.clockOff = true}});
    MapAndConfigure();
    for (int i = 0; i < 17; ++i) {
        SspWriteByte(static_cast<std::uint32_t>(i));
    }
    EXPECT_EQ(board->portStats().txDropped, 1u);
    EXPECT_EQ(RegRead(SspRegPtr, kStatus), 0u);
    SspWriteByte(99);  // seen full, stored anyway
    EXPECT_EQ(board->portStats().txDropped, 2u);
    EXPECT_EQ(SspSendBuffer(kMessage, 9), 0);
    board->Finish();
    EXPECT_EQ(giveUps.sendsGaveUp(), 1u);
    EXPECT_EQ(board->framesQueued(), 16u);
}

}  // namespace
