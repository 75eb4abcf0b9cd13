#include "app/program_main.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "app/exit_status.h"
#include "app/loopback_sequence.h"
#include "app/sequence.h"
#include "common/escape.h"
#include "platform/channels.h"
#include "platform/platform.h"

#ifndef VARKEL_VERSION
#define VARKEL_VERSION "0.0.0"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: varkel\n"
    "       varkel --loopback-test [N]\n"
    "With no arguments, sends a test message out of the board's synchronous serial\n"
    "port 10,000 times, one a second, after routing its pins and setting it up for\n"
    "8-bit frames.\n"
    "\n"
    "--loopback-test [N] checks the port with no analyser: with a jumper from its\n"
    "transmit pin (TXD) to its receive pin (RXD), it sets the port up as the test\n"
    "does, sends the test message N times (default 10, at most 10000) with no pause,\n"
    "reads every byte back and compares it with what was sent. It ends with one line,\n"
    "\"loopback: PASS: ...\" or \"loopback: FAIL: message M byte B: sent 0x.., received\n"
    "0x..\" and the likely cause (no jumper, a line held low, nothing received, or a\n"
    "clock phase that shifts every byte by one bit).\n"
    "\n"
    "Both write the board's GPIO, clock-manager and serial-port registers at their\n"
    "physical addresses through /dev/mem, so they need root, and must run only on\n"
    "the board they were built for. Debug text goes to stderr, the console to stdout.\n"
    "\n"
    "  -h, --help  this text\n"
    "  --version   the version\n"
    "\n"
    "Exit status: 0 after a full run or a loopback PASS, 1 when a register block\n"
    "could not be mapped, 2 for an argument it does not take, 4 for a loopback FAIL,\n"
    "5 when this text or the version could not be written.\n";

// An argument is shown escaped and cut: one line, whatever it holds.
constexpr std::size_t kShownArgument = 64;

// A count of messages for the loopback test: digits only, 1 to kMessageCount.
bool ParseMessages(std::string_view text, std::uint32_t& messages) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    messages = value;
    return value >= 1 && value <= kMessageCount;
}

std::int32_t Refuse(const char* argument) {
    DebugPrint(L"varkel: unexpected argument '%hs' (see --help)\n",
               common::Escaped(argument, kShownArgument).c_str());
    return kExitUsage;
}

// Help and version are the whole of what was asked: a reader that cannot
// take them is a failure, said where it can be.
std::int32_t Answered() {
    platform::FlushChannels();
    const int error = platform::ChannelError(platform::Channel::Console);
    if (error == 0) {
        return kExitOk;
    }
    DebugPrint(L"varkel: cannot write standard output: %hs\n", std::strerror(error));
    return kExitUnwritten;
}

}  // namespace

int ProgramMain(int argc, char** argv) {
    if (argc <= 1) {
        return PortTestMain(nullptr, nullptr, nullptr, 0);
    }
    const std::string_view first = argv[1];
    if ((first == "--help" || first == "-h" || first == "--version") && argc > 2) {
        return Refuse(argv[2]);
    }
    if (first == "--help" || first == "-h") {
        ConsolePrint("%s", kUsage);
        return Answered();
    }
    if (first == "--version") {
        ConsolePrint("varkel %s\n", VARKEL_VERSION);
        return Answered();
    }
    if (first != "--loopback-test") {
        return Refuse(argv[1]);
    }
    std::uint32_t messages = kLoopbackDefaultMessages;
    if (argc > 3) {
        return Refuse(argv[3]);
    }
    if (argc == 3 && !ParseMessages(argv[2], messages)) {
        DebugPrint(L"varkel: --loopback-test takes a number of messages from 1 to %u, not '%hs'\n",
                   kMessageCount, common::Escaped(argv[2], kShownArgument).c_str());
        return kExitUsage;
    }
    return LoopbackTestMain(messages);
}
