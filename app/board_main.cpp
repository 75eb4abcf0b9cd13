// Process start-up on a Linux board. With no arguments it runs the test;
// --help and --version answer without opening /dev/mem or touching a
// register, and anything else is refused, so the board's registers are
// never written by accident.
#include <cstdio>
#include <string_view>

#include "app/port_test.h"
#include "platform/channels.h"
#include "platform/escape.h"

#ifndef VARKEL_VERSION
#define VARKEL_VERSION "0.0.0"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: varkel\n"
    "Sends a test message out of the board's synchronous serial port 10,000 times,\n"
    "one a second, after routing its pins and setting it up for 8-bit frames.\n"
    "\n"
    "It writes the board's GPIO, clock-manager and serial-port registers at their\n"
    "physical addresses through /dev/mem, so it needs root, and it must run only on\n"
    "the board it was built for. Debug text goes to stderr, the console to stdout.\n"
    "\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "Exit status: 0 after a full run, 1 when a register block could not be mapped,\n"
    "2 for an argument it does not take.\n";

int Answer(const char* text) {
    return std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        const std::string_view arg = argv[1];
        if (argc == 2 && (arg == "--help" || arg == "-h")) {
            return Answer(kUsage);
        }
        if (argc == 2 && arg == "--version") {
            return Answer("varkel " VARKEL_VERSION "\n");
        }
        const bool known = arg == "--help" || arg == "-h" || arg == "--version";
        std::fprintf(stderr, "varkel: unexpected argument '%s': varkel takes none (see --help)\n",
                     platform::Escaped(known ? argv[2] : argv[1]).c_str());
        return 2;
    }
    const int status = PortTestMain(nullptr, nullptr, nullptr, 0);
    platform::FlushChannels();
    return status;
}
