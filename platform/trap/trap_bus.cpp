// The simulated board's bus for the board binary's own object code: the
// program's windows are reserved with no access, exactly as on the bus
// build, so each of its register loads and stores faults. The fault
// handler decodes that one instruction, performs its access on the board
// and resumes after it.
#include <signal.h>
#include <ucontext.h>

#include <cstdint>
#include <cstdio>

#include "platform/host/host_platform.h"
#include "platform/trap/arm_decode.h"

#if !defined(__arm__)
#error "the trapping bus decodes 32-bit ARM instructions; build it for the board's instruction set"
#endif

namespace {

class BoardBus : public platform::trap::Bus {
  public:
    std::uint32_t Read(std::uint32_t address) override { return platform::host::BusRead(address); }
    void Write(std::uint32_t address, std::uint32_t value) override {
        platform::host::BusWrite(address, value);
    }
};

unsigned long& Register(mcontext_t& m, unsigned n) {
    unsigned long* const registers[] = {&m.arm_r0, &m.arm_r1, &m.arm_r2, &m.arm_r3, &m.arm_r4,  &m.arm_r5,
                                        &m.arm_r6, &m.arm_r7, &m.arm_r8, &m.arm_r9, &m.arm_r10, &m.arm_fp,
                                        &m.arm_ip, &m.arm_sp, &m.arm_lr, &m.arm_pc};
    return *registers[n];
}

void OnFault(int signal, siginfo_t* info, void* context) {
    mcontext_t& m = static_cast<ucontext_t*>(context)->uc_mcontext;
    platform::trap::Cpu cpu;
    for (unsigned n = 0; n < 16; ++n) {
        cpu.r[n] = static_cast<std::uint32_t>(Register(m, n));
    }
    cpu.cpsr = static_cast<std::uint32_t>(m.arm_cpsr);
    std::uint32_t address = 0;
    platform::trap::Refusal why;
    const std::uint32_t instruction =
        (cpu.cpsr & (1u << 5)) == 0 ? *reinterpret_cast<const std::uint32_t*>(cpu.r[15]) : 0;
    const bool decoded = platform::trap::AccessAddress(instruction, cpu, address, why);
    if (!platform::host::InReservation(decoded ? address : reinterpret_cast<std::uintptr_t>(info->si_addr))) {
        ::signal(signal, SIG_DFL);  // not a register window: an ordinary crash, reported as one
        return;
    }
    BoardBus bus;
    if (!platform::trap::Emulate(instruction, cpu, bus, why)) {
        // The run stops at the program's next platform call; this access
        // is skipped, and those before it reach nothing.
        char line[256];
        std::snprintf(
            line, sizeof line,
            "the program's register access at pc 0x%08X (instruction 0x%08X) cannot be emulated: %s",
            cpu.r[15], instruction, why.text);
        platform::host::Abandon(line);
        cpu.r[15] += 4;
    }
    for (unsigned n = 0; n < 16; ++n) {
        Register(m, n) = cpu.r[n];
    }
}

// Installed before main, so the program's first register access is caught.
[[maybe_unused]] const bool g_installed = [] {
    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGSEGV, &action, nullptr) == 0;
}();

}  // namespace
