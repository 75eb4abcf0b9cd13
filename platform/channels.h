// The program's two text channels, debug and console, shared by every
// platform backend.
#pragma once

#include <csignal>
#include <cstdarg>
#include <string>
#include <string_view>

namespace platform {

enum class Channel { Debug, Console };

// Formats and writes to a channel; returns the text written, valid until
// the next call. The backends' DebugPrint and ConsolePrint are these.
const std::string& PrintWide(Channel channel, const wchar_t* format, va_list args);
const std::string& PrintNarrow(Channel channel, const char* format, va_list args);

// Where a channel goes: a file descriptor (-1 drops its text), or, for
// tests, a string. Text is buffered; when both channels reach the same
// file, pipe or terminal, switching channel flushes the other first, so
// lines keep the program's order.
void SetChannelFd(Channel channel, int fd);
void CaptureChannel(Channel channel, std::string* sink);
void WriteChannel(Channel channel, std::string_view text);
void FlushChannels();

// The errno of the first write on the channel that failed, or 0.
int ChannelError(Channel channel);

// Once *flag is nonzero, a write that a signal interrupts is abandoned
// instead of retried, and later writes wait for room only briefly, so a run
// can end while a reader has stopped reading.
void SetInterruptFlag(const volatile std::sig_atomic_t* flag);
// Whether that flag is set: the run is stopping.
bool Interrupted();

// Writes all of `text` to `fd`, resuming after signals unless the run is
// stopping (see SetInterruptFlag). False, with errno set, when it could
// not; EINTR then means it was abandoned because the run is stopping.
bool WriteAll(int fd, std::string_view text);

// Both channels back to stderr and stdout, buffers empty, errors cleared.
void ResetChannels();

}  // namespace platform
