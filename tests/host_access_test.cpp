// Host instructions as the emulator emits them for the binary's register
// loads and stores: each plain 32-bit access is understood exactly, with
// its register, width and length; every other form is refused by name.
#include "tools/varkel-sim/binary/host_access.h"

#include <gtest/gtest.h>
#include <sys/ucontext.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using varkel_sim::binary::HostAccess;

struct Case {
    const char* assembly;
    std::vector<std::uint8_t> bytes;
    HostAccess::Kind kind;
    int reg;
    std::uint32_t constant;
    bool signExtend;
    const char* what;  // refused: the words that name it
};

TEST(HostAccessTest, EachFormOfAccessIsUnderstoodOrNamed) {
    using K = HostAccess::Kind;
    const Case cases[] = {
        {"mov eax, [rbx]", {0x8B, 0x03}, K::Load, REG_RAX, 0, false, ""},
        {"mov r9d, [r10 + r11]", {0x47, 0x8B, 0x0C, 0x1A}, K::Load, REG_R9, 0, false, ""},
        {"mov ebp, gs:[ebx]", {0x65, 0x67, 0x8B, 0x2B}, K::Load, REG_RBP, 0, false, ""},
        {"movsxd rax, [rbx]", {0x48, 0x63, 0x03}, K::Load, REG_RAX, 0, true, ""},
        {"mov [rbx], eax", {0x89, 0x03}, K::Store, REG_RAX, 0, false, ""},
        {"mov [rdi + 0x10], r14d", {0x44, 0x89, 0x77, 0x10}, K::Store, REG_R14, 0, false, ""},
        {"mov dword [rbx], 0x12345678",
         {0xC7, 0x03, 0x78, 0x56, 0x34, 0x12},
         K::Store,
         -1,
         0x12345678,
         false,
         ""},
        {"mov dword [rbx], -1", {0xC7, 0x03, 0xFF, 0xFF, 0xFF, 0xFF}, K::Store, -1, 0xFFFFFFFF, false, ""},
        {"mov byte [rbx], al", {0x88, 0x03}, K::Refused, -1, 0, false, "a byte store"},
        {"movzx eax, byte [rbx]", {0x0F, 0xB6, 0x03}, K::Refused, -1, 0, false, "a byte load"},
        {"movzx eax, word [rbx]", {0x0F, 0xB7, 0x03}, K::Refused, -1, 0, false, "a halfword load"},
        {"mov word [rbx], ax", {0x66, 0x89, 0x03}, K::Refused, -1, 0, false, "a halfword store"},
        {"mov rax, [rbx]", {0x48, 0x8B, 0x03}, K::Refused, -1, 0, false, "a 64-bit load"},
        {"mov [rbx], rax", {0x48, 0x89, 0x03}, K::Refused, -1, 0, false, "a 64-bit store"},
        {"xchg [rbx], eax", {0x87, 0x03}, K::Refused, -1, 0, false, "an exchange (an atomic read and write)"},
        {"lock cmpxchg [rbx], ecx",
         {0xF0, 0x0F, 0xB1, 0x0B},
         K::Refused,
         -1,
         0,
         false,
         "an exchange (an atomic read and write)"},
        {"add eax, [rbx]",
         {0x03, 0x03},
         K::Refused,
         -1,
         0,
         false,
         "a 32-bit access that is not a plain load or store"},
        {"inc dword [rbx]",
         {0xFF, 0x03},
         K::Refused,
         -1,
         0,
         false,
         "an instruction that is not a load or a store"},
        {"movdqu xmm0, [rbx]", {0xF3, 0x0F, 0x6F, 0x03}, K::Refused, -1, 0, false, "a 128-bit load"},
        {"movsd xmm0, [rbx]", {0xF2, 0x0F, 0x10, 0x03}, K::Refused, -1, 0, false, "a 64-bit load"},
        {"movd xmm0, [rbx]",
         {0x66, 0x0F, 0x6E, 0x03},
         K::Refused,
         -1,
         0,
         false,
         "a 32-bit access that is not a plain load or store"},
        {"rep movsb", {0xF3, 0xA4}, K::Refused, -1, 0, false, "a string instruction (a block copy)"},
        {"movsd (a string copy of words)",
         {0xA5},
         K::Refused,
         -1,
         0,
         false,
         "a string instruction (a block copy)"},
        {"(not an instruction in 64-bit mode)",
         {0xD6},
         K::Refused,
         -1,
         0,
         false,
         "an instruction the disassembler does not know"},
    };
    varkel_sim::binary::HostDecoder decoder;
    ASSERT_TRUE(decoder.ok());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.assembly);
        std::vector<std::uint8_t> code = c.bytes;
        code.resize(16, 0x90);  // what follows the instruction is never taken for part of it
        const HostAccess access = decoder.Decode(code.data(), code.size(), 0x7f0000001000);
        EXPECT_EQ(access.kind, c.kind);
        const bool decoded = std::string(c.what).find("disassembler") == std::string::npos;
        EXPECT_EQ(access.length, decoded ? c.bytes.size() : 0u);
        if (c.kind != K::Refused) {
            EXPECT_EQ(access.reg, c.reg);
            EXPECT_EQ(access.constant, c.constant);
            EXPECT_EQ(access.signExtend, c.signExtend);
        } else {
            EXPECT_EQ(std::string(access.what), c.what);
        }
    }
}

}  // namespace
