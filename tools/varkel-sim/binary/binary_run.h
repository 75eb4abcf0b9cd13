// A board binary, the very file shipped to the board, run unmodified under
// qemu-arm with its /dev/mem windows answered by the simulated board.
//
// varkel-sim stands for the binary's kernel: it answers what the agent
// inside the emulator reports (agent_protocol.h), one message at a time
// in the binary's own order, applies the run's faults to its reservations,
// mappings and sleeps, and drives the board with its register accesses.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/host/host_platform.h"

namespace sim {
class Board;
}

namespace varkel_sim::binary {

// How a binary's run ended.
struct BinaryOutcome {
    bool exited = false;  // the binary ended by itself, with `status`
    int status = 0;
    int killedBy = 0;     // the signal that ended the binary (a crash)
    std::string refused;  // what it did that cannot be performed exactly; the run ended there
    std::string failed;   // the emulator could not run it at all
};

class BinaryRun {
  public:
    BinaryRun() = default;
    BinaryRun(const BinaryRun&) = delete;
    BinaryRun& operator=(const BinaryRun&) = delete;
    ~BinaryRun();

    // Checks `path` and what running it needs (an x86-64 host, qemu-arm,
    // the agent), and copies it aside, so that the file run is the file
    // hashed. False with one line in `error`.
    bool Prepare(const std::string& path, std::string& error);
    const std::string& sha256() const { return sha256_; }

    // Runs the binary with `args` on `board` until it ends, the run is
    // refused, or a stop (common/stop.h) is asked for, when it is killed.
    // `onCall` hears each of the binary's system calls that the platform
    // would see (reservations, mappings, releases, text, sleeps).
    // `onPlatformCall` hears the reservations, bindings and releases, said
    // as the program built in's are (PlatformWitness).
    BinaryOutcome Run(sim::Board& board, const platform::host::FaultPlan& faults,
                      const std::vector<std::string>& args, const std::function<void()>& onCall,
                      const std::function<void(const std::string&)>& onPlatformCall);

    // The binary's pauses (sleeps), reservations and /dev/mem mappings so far.
    std::uint32_t pauses() const { return pauses_; }
    std::uint32_t reservations() const { return reservations_; }
    std::uint32_t bindings() const { return bindings_; }
    // The binary's opens of /dev/mem, by whatever name, found or not.
    std::uint32_t deviceOpens() const { return deviceOpens_; }

  private:
    std::string qemu_, agent_, root_, name_, sha256_;
    std::uint32_t pauses_ = 0, reservations_ = 0, bindings_ = 0, deviceOpens_ = 0;
    pid_t child_ = -1;
};

}  // namespace varkel_sim::binary
