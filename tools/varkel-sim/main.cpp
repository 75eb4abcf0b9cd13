// varkel-sim entry: signals, then the runner.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "tools/varkel-sim/sim_runner.h"

namespace {

volatile int g_stop = 0;

extern "C" void OnSignal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
    // No SA_RESTART: a sleep in real time must wake up to see the request.
    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::ios::sync_with_stdio(true);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runner::Run(args, std::cout, std::cerr, &g_stop);
}
