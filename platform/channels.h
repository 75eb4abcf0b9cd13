// The program's two text channels, debug and console, shared by every
// platform backend.
#pragma once

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

// Both channels back to stderr and stdout, buffers empty, errors cleared.
void ResetChannels();

}  // namespace platform
