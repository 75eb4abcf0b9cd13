// Formatting and channel handling shared by every platform backend.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace platform {

// Appends the UTF-8 rendering of a wide printf-style format. %s and %c take
// wide arguments (%hs, %S and %hc narrow ones); %n is refused and prints
// nothing.
void AppendWideFormat(std::string& out, const wchar_t* format, va_list args);

// Appends the rendering of a narrow printf-style format.
void AppendNarrowFormat(std::string& out, const char* format, va_list args);

// Appends one code point as UTF-8; invalid ones become U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);

enum class Channel { Debug, Console };

// Formats and writes to a channel; returns the text written, valid until the
// next call. The backends' DebugPrint and ConsolePrint are these.
const std::string& PrintWide(Channel channel, const wchar_t* format, va_list args);
const std::string& PrintNarrow(Channel channel, const char* format, va_list args);

// The two text channels. Each goes to a file descriptor or, for tests, to a
// string. Text is buffered; when both channels reach the same file, pipe or
// terminal, switching channel flushes the other first, so lines keep the
// program's order.
void SetChannelFd(Channel channel, int fd);
void CaptureChannel(Channel channel, std::string* sink);
void WriteChannel(Channel channel, std::string_view text);
void FlushChannels();
// Drops the settings: both channels back to stderr/stdout, buffers empty.
void ResetChannels();

}  // namespace platform
