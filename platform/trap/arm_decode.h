// Emulation of the one instruction that made a register access fault: the
// 32-bit ARM load and store word forms a compiler emits for a volatile
// 32-bit access.
//
// Handled (A32, any condition, since a faulting instruction has passed it):
//   LDR / STR Rt, [Rn, #+/-imm12]         offset
//   LDR / STR Rt, [Rn, #+/-imm12]!        pre-indexed, base written back
//   LDR / STR Rt, [Rn], #+/-imm12         post-indexed
//   LDR / STR Rt, [Rn, +/-Rm{, shift}]    the same three, register offset,
//   ... shifted LSL, LSR, ASR, ROR or RRX by a constant
// Anything else, and any access not to an aligned 32-bit word, is refused
// with a reason: it is a fault in the program, not something to emulate
// around.
#pragma once

#include <cstdint>

namespace platform::trap {

// The registers the fault interrupted: r0 to r15 (pc) and the status word.
struct Cpu {
    std::uint32_t r[16] = {};
    std::uint32_t cpsr = 0;
};

// Where the emulated access goes.
class Bus {
  public:
    virtual std::uint32_t Read(std::uint32_t address) = 0;
    virtual void Write(std::uint32_t address, std::uint32_t value) = 0;
    virtual ~Bus() = default;
};

// Why an instruction is not emulated, in a buffer of its own: these run in
// a fault handler, which must not allocate.
struct Refusal {
    char text[96] = {};
};

// The address the instruction at cpu.r[15] would access, or false with
// the refusal when it is not a form this emulator performs.
bool AccessAddress(std::uint32_t instruction, const Cpu& cpu, std::uint32_t& address, Refusal& why);

// Performs the instruction: one access on `bus`, the loaded register or the
// written-back base updated, pc moved past it. False, with the refusal and
// nothing changed, when it cannot.
bool Emulate(std::uint32_t instruction, Cpu& cpu, Bus& bus, Refusal& why);

}  // namespace platform::trap
