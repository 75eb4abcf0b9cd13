// The trapping bus on 32-bit ARM: real loads and stores into a register
// window fault, and each is performed on the simulated board.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <regex>

#include "common/stop.h"
#include "platform/host/host_platform.h"
#include "platform/platform.h"
#include "sim/board.h"

namespace {

class TrapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::host::Reset();
        board = std::make_unique<sim::Board>(sim::BoardOptions{});
        platform::host::Attach(board.get());
        base = static_cast<std::uint8_t*>(ReserveRegion(nullptr, 0x2000, kMemReserve, kPageNoAccess));
        ASSERT_NE(base, nullptr);
        ASSERT_EQ(VirtualCopy(base, 0x40E00000 >> 8, 0x1000, 0x604),
                  1);  // the GPIO block; the next page unbound
    }
    void TearDown() override {
        platform::host::Reset();
        common::ClearStop();
    }

    std::unique_ptr<sim::Board> board;
    std::uint8_t* base = nullptr;
};

TEST_F(TrapTest, EachFormReachesTheBoardAndUpdatesItsRegisters) {
    std::uint8_t* p = base + 0x14;
    const std::uint32_t value = 0x1A0000;
    asm volatile("str %1, [%0]" : : "r"(p), "r"(value) : "memory");
    EXPECT_EQ(board->gpio().direction64, 0x1A0000u);

    std::uint32_t loaded = 0;
    asm volatile("ldr %0, [%1, #0x14]" : "=r"(loaded) : "r"(base) : "memory");
    EXPECT_EQ(loaded, 0x1A0000u);

    std::uint8_t* q = base + 0x64;
    asm volatile("ldr %0, [%1, #4]!" : "=&r"(loaded), "+r"(q) : : "memory");  // pre-indexed, written back
    EXPECT_EQ(q, base + 0x68);
    std::uint32_t altfn = 0x154;
    asm volatile("str %1, [%0], #-0x54" : "+r"(q) : "r"(altfn) : "memory");  // post-indexed
    EXPECT_EQ(q, base + 0x14);
    EXPECT_EQ(board->gpio().altFunction80, 0x154u);

    const std::uint32_t offset = 0x68 / 4;
    asm volatile("ldr %0, [%1, %2, lsl #2]" : "=r"(loaded) : "r"(base), "r"(offset) : "memory");
    EXPECT_EQ(loaded, 0x154u);
    EXPECT_EQ(board->stats().accesses, 5u);
    EXPECT_TRUE(board->routing() == (sim::Routing{true, true, true, true}));

    asm volatile("ldr %0, [%1]" : "=r"(loaded) : "r"(base + 0x1000) : "memory");  // reserved, not bound
    EXPECT_EQ(loaded, 0u);
    EXPECT_EQ(board->stats().strayAccesses, 1u);
}

// An access the board cannot take as one aligned word is never performed:
// the run is abandoned, naming the instruction, and stops at the program's
// next platform call.
TEST_F(TrapTest, AByteAccessEndsTheRunNamingTheInstruction) {
    std::uint32_t v = 0;
    asm volatile("ldrb %0, [%1]" : "+r"(v) : "r"(base + 0x14) : "memory");
    EXPECT_TRUE(std::regex_search(
        platform::host::AbandonReason(),
        std::regex("instruction 0xE5D.*cannot be emulated: a byte access, not a 32-bit word")))
        << platform::host::AbandonReason();
    EXPECT_EQ(board->stats().accesses, 0u);
    EXPECT_TRUE(common::StopRequested());
    EXPECT_THROW(DebugPrint(L"never written\r\n"), platform::host::RunStopped);
}

TEST_F(TrapTest, AMisalignedAccessEndsTheRunNamingTheInstruction) {
    std::uint32_t v = 0;
    asm volatile("ldr %0, [%1, #2]" : "+r"(v) : "r"(base + 0x14) : "memory");
    EXPECT_TRUE(std::regex_search(platform::host::AbandonReason(),
                                  std::regex("cannot be emulated: 0x.*16 is not an aligned 32-bit word")))
        << platform::host::AbandonReason();
    // Accesses after it reach nothing: a wait would end at once.
    std::uint32_t after = 0;
    asm volatile("ldr %0, [%1, #0x14]" : "=r"(after) : "r"(base) : "memory");
    EXPECT_EQ(after, ~0u);
    EXPECT_EQ(board->stats().accesses, 0u);
}

}  // namespace
