// The room a board binary runs in: its own mount, network and user
// namespaces, where the whole of this machine's file tree is read-only and
// opens no device, /dev holds only the stand-in for /dev/mem and the few
// nodes a C library opens, /tmp is its own and empty but for the binary,
// and there is no network. Whatever the binary does, it stays in there.
#pragma once

#include <string>

namespace varkel_sim::binary {

// Everything the sandbox needs, worked out before the emulator's process
// exists, so that making it there takes only system calls.
struct SandboxPlan {
    std::string root;     // the run's working folder on this machine
    std::string standIn;  // the sparse file that stands for /dev/mem
    std::string binary;   // the copy of the binary, and its name inside
    std::string name;
    std::string agent;           // the agent, copied in beside it
    bool deviceMissing = false;  // /dev has no mem: the kernel's devmem-missing
};

// Where the binary and the agent are inside.
std::string SandboxBinaryPath(const SandboxPlan& plan);
std::string SandboxAgentPath(const SandboxPlan& plan);

// Prepares the mount points under plan.root. False with one line in `error`.
bool PrepareSandbox(const SandboxPlan& plan, std::string& error);

// In the emulator's process, before it runs the emulator: enters the
// sandbox. Allocates nothing. False with one line in `error` (a buffer of
// `size` bytes), the step and the system's reason.
bool EnterSandbox(const SandboxPlan& plan, char* error, std::size_t size);

}  // namespace varkel_sim::binary
