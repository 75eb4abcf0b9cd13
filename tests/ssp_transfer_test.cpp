// Single-byte receive and write, the settle delay, and the receive side of
// the simulated port.
#include <cstdint>

#include "hw/map_physical.h"
#include "hw/physical_map.h"
#include "hw/reg_io.h"
#include "ssp/registers.h"
#include "ssp/ssp.h"
#include "tests/board_fixture.h"

namespace {

class SspTransferTest : public BoardTest {
  protected:
    std::uint64_t DataReads() const {
        std::uint64_t n = 0;
        for (const sim::Access& a : accesses.accesses) {
            n += (!a.write && a.block == sim::Block::Ssp && a.offset == ssp::kData) ? 1 : 0;
        }
        return n;
    }
};

TEST_F(SspTransferTest, LoopbackBringsAWrittenByteBack) {
    MakeBoard({.loopback = true});
    MapAndConfigure();
    EXPECT_EQ(SspWriteByte(0xA7), 1);
    EXPECT_EQ(SspReadByte(), 0xA7);
    EXPECT_EQ(SspWriteByte(0x00), 1);
    EXPECT_EQ(SspReadByte(), 0x00);
}

TEST_F(SspTransferTest, LoopbackNeedsBothPinsRouted) {
    MakeBoard({.loopback = true});
    MapAndConfigure();
    board->gpio().altFunction80 &= ~0x30u;                  // pin 82 back to plain GPIO
    RegWrite(GpioRegPtr, 0x14, board->gpio().direction64);  // a write makes the board look again
    EXPECT_EQ(SspWriteByte(0x55), 1);
    EXPECT_EQ(SspReadByte(), -1);
    EXPECT_EQ(frames.frames.size(), 1u);  // it left, but nothing came back
}

TEST_F(SspTransferTest, ReadKeepsOnlyTheLowEightBits) {
    MapAndConfigure();
    board->ssp().Receive(0x1A5);
    EXPECT_EQ(SspReadByte(), 0xA5);
}

TEST_F(SspTransferTest, ReadGivesUpWithoutTouchingTheDataRegister) {
    MapAndConfigure();
    RecordAccesses();
    EXPECT_EQ(SspReadByte(), -1);
    EXPECT_EQ(StatusReads(), 262144u);
    EXPECT_EQ(DataReads(), 0u);
}

TEST_F(SspTransferTest, WriteStoresAWideValueWhole) {
    MapAndConfigure();
    RecordAccesses();
    EXPECT_EQ(SspWriteByte(0x1234ABCD), 1);
    ASSERT_EQ(accesses.accesses.size(), 1u);  // no wait, no check
    EXPECT_TRUE(accesses.accesses[0].write);
    EXPECT_EQ(accesses.accesses[0].offset, ssp::kData);
    EXPECT_EQ(accesses.accesses[0].value, 0x1234ABCDu);
}

TEST_F(SspTransferTest, SettleDelayAndUnmappedPortTouchNoRegister) {
    RecordAccesses();
    EXPECT_EQ(SspReadByte(), -1);
    EXPECT_EQ(SspWriteByte(1), 0);
    MapAndConfigure();
    accesses.accesses.clear();
    EXPECT_EQ(SspSettleDelay(), 1);
    EXPECT_TRUE(accesses.accesses.empty());
    EXPECT_EQ(host::StrayAccesses(), 0u);
}

TEST_F(SspTransferTest, FullReceiveFifoDropsTheFrameAndFlagsOverrunUntilCleared) {
    MapAndConfigure();
    for (std::uint32_t i = 0; i < 17; ++i) {
        board->ssp().Receive(i);
    }
    EXPECT_EQ(board->ssp().stats.rxDropped, 1u);
    const std::uint32_t status = RegRead(SspRegPtr, ssp::kStatus);
    EXPECT_EQ(status & (ssp::kRxNotEmpty | ssp::kRxOverrun), ssp::kRxNotEmpty | ssp::kRxOverrun);
    RegWrite(SspRegPtr, ssp::kStatus, 0);  // writing 0 leaves it set
    EXPECT_NE(RegRead(SspRegPtr, ssp::kStatus) & ssp::kRxOverrun, 0u);
    RegWrite(SspRegPtr, ssp::kStatus, ssp::kRxOverrun);
    EXPECT_EQ(RegRead(SspRegPtr, ssp::kStatus) & ssp::kRxOverrun, 0u);
    for (std::int32_t i = 0; i < 16; ++i) {
        EXPECT_EQ(SspReadByte(), i);  // the first sixteen, in order
    }
    EXPECT_EQ(RegRead(SspRegPtr, ssp::kStatus) & ssp::kRxNotEmpty, 0u);
}

}  // namespace
