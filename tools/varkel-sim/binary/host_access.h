// What one x86-64 host instruction does to a register window: the board
// binary's guest load or store, as the emulator translated it. Only a plain
// 32-bit load into a register, or a 32-bit store of a register or a
// constant, is an access the board can answer exactly; anything else is
// named so that the run can be refused.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varkel_sim::binary {

struct HostAccess {
    enum class Kind { Load, Store, Refused };
    Kind kind = Kind::Refused;
    unsigned length = 0;      // bytes of the instruction
    int reg = -1;             // the general register (ucontext index) loaded or stored; -1: a constant
    bool signExtend = false;  // a load sign-extended into a 64-bit register
    bool exchange = false;    // an atomic read and write (refused)
    std::uint32_t constant = 0;
    // Refused: what the instruction is, as "a byte store" or "an exchange".
    const char* what = "an instruction that is not a load or a store";
    char mnemonic[32] = {};  // the disassembler's name for it
};

// Decodes host instructions; holds a disassembler and one instruction's
// room, so Decode allocates nothing and may run in a fault handler.
class HostDecoder {
  public:
    HostDecoder();
    ~HostDecoder();
    HostDecoder(const HostDecoder&) = delete;
    HostDecoder& operator=(const HostDecoder&) = delete;

    bool ok() const { return insn_ != nullptr; }
    // The instruction at the start of `code` (`size` bytes readable),
    // located at `address`.
    HostAccess Decode(const std::uint8_t* code, std::size_t size, std::uint64_t address);

  private:
    std::size_t handle_ = 0;
    void* insn_ = nullptr;
};

}  // namespace varkel_sim::binary
