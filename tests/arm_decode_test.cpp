// The emulator of a faulting register access, on instructions as the
// assembler encodes them.
#include "platform/trap/arm_decode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct RecordingBus : platform::trap::Bus {
    std::vector<std::string> log;
    std::uint32_t Read(std::uint32_t address) override {
        log.push_back("R " + std::to_string(address));
        return 0xCAFE0000u + (address & 0xFFFF);
    }
    void Write(std::uint32_t address, std::uint32_t value) override {
        log.push_back("W " + std::to_string(address) + " " + std::to_string(value));
    }
};

platform::trap::Cpu Registers() {
    platform::trap::Cpu cpu;
    for (std::uint32_t n = 0; n < 15; ++n) {
        cpu.r[n] = 0x1000u * (n + 1);  // r1 = 0x2000, r2 = 0x3000, ...
    }
    cpu.r[2] = 0x10;
    cpu.r[5] = 0x20;
    cpu.r[8] = 0x4;
    cpu.r[15] = 0x8000;
    return cpu;
}

struct Form {
    const char* text;  // as the assembler writes it
    std::uint32_t instruction;
    std::vector<std::string> bus;                        // empty: refused as misaligned
    std::vector<std::pair<int, std::uint32_t>> changed;  // registers loaded or written back, besides pc
};

TEST(ArmDecode, EachHandledFormMakesOneAccessAndUpdatesItsRegisters) {
    const std::vector<Form> forms = {
        {"ldr r0, [r1, #8]", 0xe5910008, {"R 8200"}, {{0, 0xCAFE2008}}},
        {"str r2, [r1, #16]", 0xe5812010, {"W 8208 16"}, {}},
        {"ldr r0, [r1, #-4]", 0xe5110004, {"R 8188"}, {{0, 0xCAFE1FFC}}},
        {"ldr r3, [r4, r5]", 0xe7943005, {"R 20512"}, {{3, 0xCAFE5020}}},
        {"str r6, [r7, -r8, lsl #2]", 0xe7076108, {"W 32752 28672"}, {}},
        {"ldr r0, [r1, r2, lsr #3]", 0xe79101a2, {}, {}},  // 0x2000 + 2: misaligned
        {"ldr r0, [r1, r2, asr #1]", 0xe79100c2, {"R 8200"}, {{0, 0xCAFE2008}}},
        {"ldr r0, [r1, r2, ror #4]", 0xe7910262, {}, {}},  // 0x10 ror 4 = 1: misaligned
        {"ldr r0, [r1, #4]!", 0xe5b10004, {"R 8196"}, {{0, 0xCAFE2004}, {1, 0x2004}}},
        {"str r0, [r1, #-8]!", 0xe5210008, {"W 8184 4096"}, {{1, 0x1FF8}}},
        {"ldr r0, [r1], #4", 0xe4910004, {"R 8192"}, {{0, 0xCAFE2000}, {1, 0x2004}}},
        {"str r0, [r1], -r2", 0xe6010002, {"W 8192 4096"}, {{1, 0x1FF0}}},
    };
    for (const Form& f : forms) {
        SCOPED_TRACE(f.text);
        platform::trap::Cpu cpu = Registers();
        const platform::trap::Cpu before = cpu;
        RecordingBus bus;
        platform::trap::Refusal why;
        const bool done = platform::trap::Emulate(f.instruction, cpu, bus, why);
        if (f.bus.empty()) {
            EXPECT_FALSE(done);
            EXPECT_NE(std::string(why.text).find("is not an aligned 32-bit word"), std::string::npos)
                << why.text;
            EXPECT_TRUE(bus.log.empty());
            continue;
        }
        ASSERT_TRUE(done) << why.text;
        EXPECT_EQ(bus.log, f.bus);
        EXPECT_EQ(cpu.r[15], 0x8004u);
        platform::trap::Cpu expected = before;
        for (const auto& [n, value] : f.changed) {
            expected.r[n] = value;
        }
        for (int n = 0; n < 15; ++n) {
            EXPECT_EQ(cpu.r[n], expected.r[n]) << "r" << n;
        }
    }
}

TEST(ArmDecode, RrxTakesTheCarryAndPcBaseReadsEightAhead) {
    platform::trap::Cpu cpu = Registers();
    cpu.r[2] = 0x8;
    cpu.cpsr = 1u << 29;  // carry set: rrx gives 0x80000004
    std::uint32_t address = 0;
    platform::trap::Refusal why;
    ASSERT_TRUE(platform::trap::AccessAddress(0xe7910062, cpu, address, why))
        << why.text;  // ldr r0, [r1, r2, rrx]
    EXPECT_EQ(address, 0x80002004u);
    ASSERT_TRUE(platform::trap::AccessAddress(0xe59f0008, cpu, address, why))
        << why.text;  // ldr r0, [pc, #8]
    EXPECT_EQ(address, 0x8010u);
}

TEST(ArmDecode, EveryOtherFormIsRefusedWithItsReasonAndChangesNothing) {
    const std::vector<std::pair<std::uint32_t, const char*>> refused = {
        {0xe5d10000, "a byte access, not a 32-bit word"},                                   // ldrb r0, [r1]
        {0xe1d100b0, "a halfword, signed-byte or doubleword access, not one 32-bit word"},  // ldrh r0, [r1]
        {0xe1c200f0, "a halfword, signed-byte or doubleword access, not one 32-bit word"},  // strd r0, [r2]
        {0xe8910005, "a load or store of several registers, not one 32-bit word"},  // ldm r1, {r0, r2}
        {0xe591f000, "a load into pc"},                                             // ldr pc, [r1]
        {0xe5b11004, "write-back to pc or to the register loaded or stored"},       // ldr r1, [r1, #4]!
        {0xe4b10004, "an unprivileged (T) access"},                                 // ldrt r0, [r1], #4
        {0xe0810002, "not a load or store"},                                        // add r0, r1, r2
    };
    for (const auto& [instruction, expected] : refused) {
        SCOPED_TRACE(expected);
        platform::trap::Cpu cpu = Registers();
        RecordingBus bus;
        platform::trap::Refusal why;
        EXPECT_FALSE(platform::trap::Emulate(instruction, cpu, bus, why));
        EXPECT_STREQ(why.text, expected);
        EXPECT_TRUE(bus.log.empty());
        EXPECT_EQ(cpu.r[15], 0x8000u);
    }
    platform::trap::Cpu thumb = Registers();
    thumb.cpsr = 1u << 5;
    RecordingBus bus;
    platform::trap::Refusal why;
    EXPECT_FALSE(platform::trap::Emulate(0xe5910008, thumb, bus, why));
    EXPECT_STREQ(why.text, "Thumb code is not decoded");
}

}  // namespace
