#include "platform/channels.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/write_all.h"
#include "platform/text_format.h"

namespace platform {
namespace {

struct ChannelState {
    explicit ChannelState(int descriptor) : fd(descriptor) {}
    int fd;
    std::string* capture = nullptr;
    std::string pending;
    bool terminal = false;
    int error = 0;
};

constexpr std::size_t kFlushThreshold = 64 * 1024;

ChannelState g_debug(STDERR_FILENO);
ChannelState g_console(STDOUT_FILENO);
Channel g_last = Channel::Console;
int g_sharedKnown = -1;  // -1: not yet checked; else 0 or 1

ChannelState& State(Channel channel) {
    return channel == Channel::Debug ? g_debug : g_console;
}

}  // namespace

namespace {

void Flush(ChannelState& state) {
    if (!state.pending.empty() && state.fd >= 0 && !common::WriteAll(state.fd, state.pending) &&
        errno != EINTR && state.error == 0) {
        state.error = errno;
    }
    state.pending.clear();
}

bool SameDestination() {
    if (g_sharedKnown < 0) {
        struct stat a {};
        struct stat b {};
        bool shared = false;
        if (g_debug.capture == nullptr && g_console.capture == nullptr && ::fstat(g_debug.fd, &a) == 0 &&
            ::fstat(g_console.fd, &b) == 0) {
            g_debug.terminal = ::isatty(g_debug.fd) != 0;
            g_console.terminal = ::isatty(g_console.fd) != 0;
            shared =
                (a.st_dev == b.st_dev && a.st_ino == b.st_ino) || (g_debug.terminal && g_console.terminal);
        }
        g_sharedKnown = shared ? 1 : 0;
    }
    return g_sharedKnown == 1;
}

}  // namespace

namespace {

template <typename CharT>
const std::string& Print(Channel channel, const CharT* format, va_list args,
                         void (*append)(std::string&, const CharT*, va_list)) {
    static std::string text;  // one per width: valid until the next call
    text.clear();
    append(text, format, args);
    WriteChannel(channel, text);
    return text;
}

}  // namespace

const std::string& PrintWide(Channel channel, const wchar_t* format, va_list args) {
    return Print(channel, format, args, AppendWideFormat);
}

const std::string& PrintNarrow(Channel channel, const char* format, va_list args) {
    return Print(channel, format, args, AppendNarrowFormat);
}

void SetChannelFd(Channel channel, int fd) {
    Flush(State(channel));
    State(channel).fd = fd;
    State(channel).capture = nullptr;
    g_sharedKnown = -1;
}

void CaptureChannel(Channel channel, std::string* sink) {
    Flush(State(channel));
    State(channel).capture = sink;
    g_sharedKnown = -1;
}

void WriteChannel(Channel channel, std::string_view text) {
    ChannelState& state = State(channel);
    if (state.capture != nullptr) {
        state.capture->append(text);
        return;
    }
    if (state.fd < 0) {
        return;
    }
    if (channel != g_last && SameDestination()) {
        Flush(State(g_last));
    }
    g_last = channel;
    state.pending.append(text);
    // A person watching a shared terminal sees each piece as it is written.
    if (state.pending.size() >= kFlushThreshold || (SameDestination() && state.terminal)) {
        Flush(state);
    }
}

void FlushChannels() {
    // Oldest first, so the order holds on a shared destination.
    Flush(State(g_last == Channel::Debug ? Channel::Console : Channel::Debug));
    Flush(State(g_last));
}

int ChannelError(Channel channel) {
    return State(channel).error;
}

void ResetChannels() {
    g_debug = ChannelState(STDERR_FILENO);
    g_console = ChannelState(STDOUT_FILENO);
    g_last = Channel::Console;
    g_sharedKnown = -1;
}

}  // namespace platform
