#include "common/stop.h"

#include <csignal>

namespace common {
namespace {

volatile std::sig_atomic_t g_stopping = 0;
volatile std::sig_atomic_t g_signal = 0;

}  // namespace

void RequestStop(int signal) noexcept {
    if (g_stopping == 0) {
        g_signal = signal;
        g_stopping = 1;
    }
}

bool StopRequested() noexcept {
    return g_stopping != 0;
}

int StopSignal() noexcept {
    return g_signal;
}

void ClearStop() noexcept {
    g_stopping = 0;
    g_signal = 0;
}

}  // namespace common
