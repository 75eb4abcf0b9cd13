#include "platform/trap/arm_decode.h"

#include <cstdio>

namespace platform::trap {
namespace {

constexpr std::uint32_t kThumb = 1u << 5;   // CPSR T: Thumb state
constexpr std::uint32_t kCarry = 1u << 29;  // CPSR C
constexpr unsigned kPc = 15;

std::uint32_t Field(std::uint32_t instruction, unsigned hi, unsigned lo) {
    return (instruction >> lo) & ((2u << (hi - lo)) - 1);
}

struct Form {
    bool load, preIndexed, add, writeBack;
    unsigned rn, rt;
};

// Why an instruction is not one of the handled forms, or null.
const char* Refused(std::uint32_t i, const Cpu& cpu) {
    if ((cpu.cpsr & kThumb) != 0) {
        return "Thumb code is not decoded";
    }
    if (Field(i, 27, 26) != 1) {
        const bool extra = Field(i, 27, 25) == 0 && Field(i, 7, 7) == 1 && Field(i, 4, 4) == 1;
        return extra                   ? "a halfword, signed-byte or doubleword access, not one 32-bit word"
               : Field(i, 27, 25) == 4 ? "a load or store of several registers, not one 32-bit word"
                                       : "not a load or store";
    }
    if (Field(i, 25, 25) == 1 && Field(i, 4, 4) == 1) {
        return "not a load or store";  // the media instruction space
    }
    if (Field(i, 22, 22) == 1) {
        return "a byte access, not a 32-bit word";
    }
    if (Field(i, 24, 24) == 0 && Field(i, 21, 21) == 1) {
        return "an unprivileged (T) access";
    }
    const bool load = Field(i, 20, 20) == 1;
    const bool writeBack = Field(i, 24, 24) == 0 || Field(i, 21, 21) == 1;
    const unsigned rn = Field(i, 19, 16);
    const unsigned rt = Field(i, 15, 12);
    if (rt == kPc) {
        return load ? "a load into pc" : "a store of pc";
    }
    if (writeBack && (rn == kPc || rn == rt)) {
        return "write-back to pc or to the register loaded or stored";
    }
    if (Field(i, 25, 25) == 1 && Field(i, 3, 0) == kPc) {
        return "pc as the offset register";
    }
    return nullptr;
}

std::uint32_t Offset(std::uint32_t i, const Cpu& cpu) {
    if (Field(i, 25, 25) == 0) {
        return Field(i, 11, 0);
    }
    const std::uint32_t rm = cpu.r[Field(i, 3, 0)];
    const unsigned amount = Field(i, 11, 7);
    switch (Field(i, 6, 5)) {
        case 0:
            return rm << amount;
        case 1:
            return amount == 0 ? 0 : rm >> amount;  // LSR #32
        case 2:
            return amount == 0 ? ((rm & 0x80000000u) != 0 ? 0xFFFFFFFFu : 0)
                               : static_cast<std::uint32_t>(static_cast<std::int32_t>(rm) >> amount);
        default:
            return amount == 0 ? ((cpu.cpsr & kCarry) != 0 ? 0x80000000u : 0) | (rm >> 1)  // RRX
                               : (rm >> amount) | (rm << (32 - amount));
    }
}

Form Decode(std::uint32_t i) {
    return {Field(i, 20, 20) == 1, Field(i, 24, 24) == 1,
            Field(i, 23, 23) == 1, Field(i, 24, 24) == 0 || Field(i, 21, 21) == 1,
            Field(i, 19, 16),      Field(i, 15, 12)};
}

std::uint32_t OffsetAddress(std::uint32_t i, const Cpu& cpu, const Form& f) {
    const std::uint32_t base = f.rn == kPc ? cpu.r[kPc] + 8 : cpu.r[f.rn];
    return f.add ? base + Offset(i, cpu) : base - Offset(i, cpu);
}

}  // namespace

bool AccessAddress(std::uint32_t instruction, const Cpu& cpu, std::uint32_t& address, Refusal& why) {
    if (const char* refusal = Refused(instruction, cpu)) {
        std::snprintf(why.text, sizeof why.text, "%s", refusal);
        return false;
    }
    const Form f = Decode(instruction);
    address = f.preIndexed ? OffsetAddress(instruction, cpu, f) : cpu.r[f.rn];
    if ((address & 3) != 0) {
        std::snprintf(why.text, sizeof why.text, "0x%08X is not an aligned 32-bit word", address);
        return false;
    }
    return true;
}

bool Emulate(std::uint32_t instruction, Cpu& cpu, Bus& bus, Refusal& why) {
    std::uint32_t address = 0;
    if (!AccessAddress(instruction, cpu, address, why)) {
        return false;
    }
    const Form f = Decode(instruction);
    const std::uint32_t writtenBack = OffsetAddress(instruction, cpu, f);
    if (f.load) {
        cpu.r[f.rt] = bus.Read(address);
    } else {
        bus.Write(address, cpu.r[f.rt]);
    }
    if (f.writeBack) {
        cpu.r[f.rn] = writtenBack;
    }
    cpu.r[kPc] += 4;
    return true;
}

}  // namespace platform::trap
