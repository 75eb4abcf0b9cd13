// Port set-up and transmit against the simulated board's register traffic.
#include <cstdint>
#include <string>
#include <vector>

#include "hw/map_physical.h"
#include "hw/physical_map.h"
#include "hw/reg_io.h"
#include "sim/clock_model.h"
#include "ssp/registers.h"
#include "ssp/ssp.h"
#include "tests/board_fixture.h"

namespace {

using sim::Block;

struct Expected {
    bool write;
    Block block;
    std::uint32_t offset;
    std::uint32_t value;
};

constexpr Expected R(Block b, std::uint32_t off, std::uint32_t v) {
    return {false, b, off, v};
}
constexpr Expected W(Block b, std::uint32_t off, std::uint32_t v) {
    return {true, b, off, v};
}

void ExpectTraffic(const std::vector<sim::Access>& actual, const std::vector<Expected>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("access " + std::to_string(i));
        EXPECT_EQ(actual[i].write, expected[i].write);
        EXPECT_EQ(actual[i].block, expected[i].block);
        EXPECT_EQ(actual[i].offset, expected[i].offset);
        EXPECT_EQ(actual[i].value, expected[i].value);
    }
}

class SspDriverTest : public BoardTest {
  protected:
    void MapWindows() {
        GpioRegPtr = MapPhysicalAddr(phys::kGpioBase, phys::kGpioBytes);
        SspRegPtr = MapPhysicalAddr(phys::kSspBase, phys::kSspBytes);
        v_pClkRegs = MapPhysicalAddr(phys::kClockBase, phys::kClockBytes);
    }
    std::vector<std::uint32_t> DataWrites() const {
        std::vector<std::uint32_t> values;
        for (const sim::Access& a : accesses.accesses) {
            if (a.write && a.block == Block::Ssp && a.offset == ssp::kData) {
                values.push_back(a.value);
            }
        }
        return values;
    }
    // Status reads made before each data write.
    std::vector<std::uint64_t> PollsPerByte() const {
        std::vector<std::uint64_t> polls{0};
        for (const sim::Access& a : accesses.accesses) {
            if (a.block == Block::Ssp && a.offset == ssp::kStatus && !a.write) {
                ++polls.back();
            } else if (a.block == Block::Ssp && a.offset == ssp::kData && a.write) {
                polls.push_back(0);
            }
        }
        return polls;
    }
};

TEST_F(SspDriverTest, ConfigureMakesExactlyThisTrafficFromReset) {
    MapWindows();
    RecordAccesses();
    ConfigureSspPort();
    const std::uint32_t cken = sim::kClockEnableReset;
    // clang-format off
    ExpectTraffic(accesses.accesses, {
        R(Block::Clock, clk::kEnable, cken), W(Block::Clock, clk::kEnable, cken & ~0x200u),
        R(Block::Gpio, 0x68, 0x000), W(Block::Gpio, 0x68, 0x004),
        R(Block::Gpio, 0x68, 0x004), W(Block::Gpio, 0x68, 0x014),
        R(Block::Gpio, 0x68, 0x014), W(Block::Gpio, 0x68, 0x054),
        R(Block::Gpio, 0x68, 0x054), W(Block::Gpio, 0x68, 0x154),
        R(Block::Gpio, 0x68, 0x154),
        R(Block::Gpio, 0x14, 0), W(Block::Gpio, 0x14, 0x1A0000),
        W(Block::Ssp, 0x00, 0x607),
        W(Block::Ssp, 0x08, 0x80),
        W(Block::Ssp, 0x04, 0),
        R(Block::Ssp, 0x00, 0x607), W(Block::Ssp, 0x00, 0x687),
        R(Block::Clock, clk::kEnable, cken & ~0x200u), W(Block::Clock, clk::kEnable, cken | 0x200u),
    });
    // clang-format on
}

TEST_F(SspDriverTest, ConfigurePreservesEveryBitItDoesNotOwn) {
    for (const std::uint32_t garbage : {0xFFFFFFFFu, 0xA5A5A5A5u, 0x5A5A5A5Au, 0u}) {
        SCOPED_TRACE(garbage);
        MakeBoard({});
        board->gpio().direction64 = garbage;
        board->gpio().altFunction80 = garbage;
        board->clockManager().enable = garbage;
        SspClockRate = 0x2A;
        MapWindows();
        ConfigureSspPort();
        EXPECT_EQ(board->gpio().direction64, (garbage | 0x1A0000u) & ~0x40000u);
        EXPECT_EQ(board->gpio().altFunction80, (garbage & ~0x3FCu) | 0x154u);
        EXPECT_EQ(board->clockManager().enable, garbage | 0x200u);
        EXPECT_EQ(board->ssp().control0(), 0x2A87u);
        EXPECT_TRUE(board->routing().txd && board->routing().rxd && board->routing().sclk &&
                    board->routing().sfrm);
    }
}

TEST_F(SspDriverTest, UnmappedWindowsAreNeverTouched) {
    RecordAccesses();
    ConfigureSspPort();
    const std::uint8_t byte = 0x42;
    EXPECT_EQ(SspSendBuffer(&byte, 1), 0);
    SspRegPtr = MapPhysicalAddr(phys::kSspBase, phys::kSspBytes);
    ConfigureSspPort();  // GPIO and clock windows still missing
    EXPECT_EQ(SspSendBuffer(nullptr, 3), 0);
    EXPECT_TRUE(accesses.accesses.empty());
    EXPECT_EQ(host::StrayAccesses(), 0u);
    EXPECT_EQ(debugText, "Data sent:     0x\r\nData sent:     0x\r\n");
}

TEST_F(SspDriverTest, SendStoresEachByteAfterOneStatusReadWhenThereIsRoom) {
    MapAndConfigure();
    RecordAccesses();
    const std::uint8_t message[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};
    EXPECT_EQ(SspSendBuffer(message, 9), 1);
    EXPECT_EQ(DataWrites(),
              (std::vector<std::uint32_t>{0x5A, 0x45, 0x4C, 0x20, 0x4E, 0x53, 0x53, 0x50, 0x00}));
    EXPECT_EQ(PollsPerByte(), (std::vector<std::uint64_t>{1, 1, 1, 1, 1, 1, 1, 1, 1, 0}));
    EXPECT_EQ(debugText, "Data sent:     0x5A454C204E53535000\r\n");
}

TEST_F(SspDriverTest, EmptyOrNegativeLengthTouchesNothingAndSucceeds) {
    MapAndConfigure();
    RecordAccesses();
    const std::uint8_t byte = 1;
    EXPECT_EQ(SspSendBuffer(&byte, 0), 1);
    EXPECT_EQ(SspSendBuffer(&byte, -5), 1);
    EXPECT_EQ(SspSendBuffer(nullptr, 0), 1);
    EXPECT_TRUE(accesses.accesses.empty());
    EXPECT_EQ(debugText, "Data sent:     0x\r\nData sent:     0x\r\nData sent:     0x\r\n");
}

TEST_F(SspDriverTest, SendGivesUpAfterExactlyTheBoundedNumberOfStatusReads) {
    MakeBoard({.txStuck = true});
    MapAndConfigure();
    RecordAccesses();
    const std::uint8_t message[] = {1, 2, 3};
    EXPECT_EQ(SspSendBuffer(message, 3), 0);
    EXPECT_EQ(StatusReads(), 262144u);
    EXPECT_EQ(accesses.accesses.size(), 262144u);  // nothing but status reads
    EXPECT_EQ(SspSendGiveUps, 1u);
    EXPECT_EQ(debugText, "Data sent:     0x\r\n");
}

TEST_F(SspDriverTest, StallOnTheThirdByteStillSendsEverythingInOrder) {
    MapAndConfigure();
    // Fill the port so that exactly two slots are free: one frame shifting,
    // fourteen waiting.
    for (int i = 0; i < 15; ++i) {
        RegWrite(SspRegPtr, ssp::kData, 0xEE);
    }
    ASSERT_EQ(board->ssp().txLevel(), 15u);
    RecordAccesses();
    const std::uint8_t message[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};
    EXPECT_EQ(SspSendBuffer(message, 9), 1);
    const auto polls = PollsPerByte();
    EXPECT_EQ(polls[0], 1u);
    EXPECT_EQ(polls[1], 1u);
    EXPECT_GT(polls[2], 1u);
    EXPECT_LT(polls[2], 262144u);
    EXPECT_EQ(DataWrites(),
              (std::vector<std::uint32_t>{0x5A, 0x45, 0x4C, 0x20, 0x4E, 0x53, 0x53, 0x50, 0x00}));
    EXPECT_EQ(board->ssp().stats.txDropped, 0u);
}

TEST_F(SspDriverTest, StoppedClockFillsTheFifoAndTheLineListsOnlyWhatWasStored) {
    MakeBoard({.clockOff = true});
    MapAndConfigure();
    const std::uint8_t message[] = {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0};
    EXPECT_EQ(SspSendBuffer(message, 9), 1);
    EXPECT_EQ(SspSendBuffer(message, 9), 0);
    EXPECT_EQ(debugText, "Data sent:     0x5A454C204E53535000\r\nData sent:     0x5A454C204E5353\r\n");
    board->Sleep(1000000000);
    EXPECT_EQ(board->ssp().txLevel(), 16u);
    EXPECT_TRUE(frames.frames.empty());
}

TEST_F(SspDriverTest, LongSendListsEveryByte) {
    MapAndConfigure();
    std::vector<std::uint8_t> bytes(40);
    std::string hex;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(0xC0 + i);
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        hex += pair;
    }
    EXPECT_EQ(SspSendBuffer(bytes.data(), 40), 1);
    EXPECT_EQ(debugText, "Data sent:     0x" + hex + "\r\n");
}

}  // namespace
