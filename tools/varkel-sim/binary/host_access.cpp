#include "tools/varkel-sim/binary/host_access.h"

#include <capstone/capstone.h>
#include <sys/ucontext.h>

#include <cstdio>

namespace varkel_sim::binary {
namespace {

struct RegisterName {
    x86_reg r32;
    x86_reg r64;
    int index;  // in the signal context's general registers
};

constexpr RegisterName kRegisters[] = {
    {X86_REG_EAX, X86_REG_RAX, REG_RAX},  {X86_REG_EBX, X86_REG_RBX, REG_RBX},
    {X86_REG_ECX, X86_REG_RCX, REG_RCX},  {X86_REG_EDX, X86_REG_RDX, REG_RDX},
    {X86_REG_ESI, X86_REG_RSI, REG_RSI},  {X86_REG_EDI, X86_REG_RDI, REG_RDI},
    {X86_REG_EBP, X86_REG_RBP, REG_RBP},  {X86_REG_R8D, X86_REG_R8, REG_R8},
    {X86_REG_R9D, X86_REG_R9, REG_R9},    {X86_REG_R10D, X86_REG_R10, REG_R10},
    {X86_REG_R11D, X86_REG_R11, REG_R11}, {X86_REG_R12D, X86_REG_R12, REG_R12},
    {X86_REG_R13D, X86_REG_R13, REG_R13}, {X86_REG_R14D, X86_REG_R14, REG_R14},
    {X86_REG_R15D, X86_REG_R15, REG_R15},
};

// The context index of a 32-bit (or, with `wide`, 64-bit) general
// register; -1 for any other (the stack pointer included: never a value).
int Index(unsigned reg, bool wide) {
    for (const RegisterName& name : kRegisters) {
        if (reg == static_cast<unsigned>(wide ? name.r64 : name.r32)) {
            return name.index;
        }
    }
    return -1;
}

const char* SizeWord(unsigned bytes, bool store) {
    switch (bytes) {
        case 1:
            return store ? "a byte store" : "a byte load";
        case 2:
            return store ? "a halfword store" : "a halfword load";
        case 8:
            return store ? "a 64-bit store" : "a 64-bit load";
        case 16:
            return store ? "a 128-bit store" : "a 128-bit load";
        default:
            return store ? "a store of unusual width" : "a load of unusual width";
    }
}

}  // namespace

HostDecoder::HostDecoder() {
    csh handle = 0;
    if (cs_open(CS_ARCH_X86, CS_MODE_64, &handle) != CS_ERR_OK) {
        return;
    }
    cs_option(handle, CS_OPT_DETAIL, CS_OPT_ON);
    handle_ = handle;
    insn_ = cs_malloc(handle);
}

HostDecoder::~HostDecoder() {
    if (insn_ != nullptr) {
        cs_free(static_cast<cs_insn*>(insn_), 1);
    }
    if (handle_ != 0) {
        csh handle = handle_;
        cs_close(&handle);
    }
}

HostAccess HostDecoder::Decode(const std::uint8_t* code, std::size_t size, std::uint64_t address) {
    HostAccess access;
    auto* insn = static_cast<cs_insn*>(insn_);
    if (insn == nullptr || !cs_disasm_iter(handle_, &code, &size, &address, insn)) {
        access.what = "an instruction the disassembler does not know";
        return access;
    }
    access.length = insn->size;
    std::snprintf(access.mnemonic, sizeof access.mnemonic, "%s", insn->mnemonic);
    const cs_x86& x86 = insn->detail->x86;
    const bool locked = x86.prefix[0] == X86_PREFIX_LOCK;
    if (insn->id == X86_INS_XCHG || insn->id == X86_INS_CMPXCHG || insn->id == X86_INS_XADD || locked) {
        access.what = "an exchange (an atomic read and write)";
        access.exchange = true;
        return access;
    }
    const bool copiesMemory = x86.op_count == 2 && x86.operands[0].type == X86_OP_MEM &&
                              x86.operands[1].type == X86_OP_MEM;  // not the SSE move of the same name
    switch (insn->id) {
        case X86_INS_MOVSD:
            if (!copiesMemory) {
                break;
            }
            [[fallthrough]];
        case X86_INS_MOVSB:
        case X86_INS_MOVSW:
        case X86_INS_MOVSQ:
        case X86_INS_STOSB:
        case X86_INS_STOSW:
        case X86_INS_STOSD:
        case X86_INS_STOSQ:
        case X86_INS_LODSB:
        case X86_INS_LODSW:
        case X86_INS_LODSD:
        case X86_INS_LODSQ:
            access.what = "a string instruction (a block copy)";
            return access;
        default:
            break;
    }
    if (x86.op_count != 2) {
        return access;
    }
    const cs_x86_op& to = x86.operands[0];
    const cs_x86_op& from = x86.operands[1];
    if (insn->id == X86_INS_MOV && to.type == X86_OP_MEM &&
        (from.type == X86_OP_REG || from.type == X86_OP_IMM)) {
        if (to.size != 4) {
            access.what = SizeWord(to.size, true);
            return access;
        }
        access.reg = from.type == X86_OP_REG ? Index(from.reg, false) : -1;
        if (from.type == X86_OP_REG && access.reg < 0) {
            return access;
        }
        access.constant = static_cast<std::uint32_t>(from.type == X86_OP_IMM ? from.imm : 0);
        access.kind = HostAccess::Kind::Store;
        return access;
    }
    const bool load = (insn->id == X86_INS_MOV || insn->id == X86_INS_MOVSXD || insn->id == X86_INS_MOVZX ||
                       insn->id == X86_INS_MOVSX) &&
                      to.type == X86_OP_REG && from.type == X86_OP_MEM;
    if (load) {
        if (from.size != 4) {
            access.what = SizeWord(from.size, false);
            return access;
        }
        access.signExtend = insn->id == X86_INS_MOVSXD;
        access.reg = Index(to.reg, access.signExtend);
        if (access.reg >= 0) {
            access.kind = HostAccess::Kind::Load;
        }
        return access;
    }
    if (to.type == X86_OP_MEM || from.type == X86_OP_MEM) {
        const unsigned bytes = to.type == X86_OP_MEM ? to.size : from.size;
        access.what = bytes != 4 ? SizeWord(bytes, to.type == X86_OP_MEM)
                                 : "a 32-bit access that is not a plain load or store";
    }
    return access;
}

}  // namespace varkel_sim::binary
