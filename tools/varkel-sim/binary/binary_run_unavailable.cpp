// varkel-sim built where a board binary cannot run under the emulator: the
// agent inside it decodes the emulator's own x86-64 code. --binary is
// refused before anything is written.
#include "tools/varkel-sim/binary/binary_run.h"

namespace varkel_sim::binary {
namespace {

constexpr const char* kUnavailable =
    "--binary needs varkel-sim built on an x86-64 host: the agent decodes the emulator's x86-64 code";

}  // namespace

BinaryRun::~BinaryRun() = default;

bool BinaryRun::Prepare(const std::string& /*path*/, std::string& error) {
    error = kUnavailable;
    return false;
}

BinaryOutcome BinaryRun::Run(sim::Board& /*board*/, const platform::host::FaultPlan& /*faults*/,
                             const std::vector<std::string>& /*args*/,
                             const std::function<void()>& /*onCall*/,
                             const std::function<void(const std::string&)>& /*onPlatformCall*/) {
    BinaryOutcome outcome;
    outcome.failed = kUnavailable;
    return outcome;
}

}  // namespace varkel_sim::binary
