// Rendering of the program's printf-style texts.
#pragma once

#include <cstdarg>
#include <string>

namespace platform {

// Appends the UTF-8 rendering of a wide format in the program's convention:
// %s and %c take wide arguments, %hs and %hc narrow (UTF-8) ones. A format
// the C library would reject or that the program's texts never need (%n, a
// width or precision taken from the arguments, an unknown conversion) is
// written out as it stands, never half-formatted.
void AppendWideFormat(std::string& out, const wchar_t* format, va_list args);

// The same for a narrow format, in the C library's own convention.
void AppendNarrowFormat(std::string& out, const char* format, va_list args);

// Appends one code point as UTF-8; one that is not a character becomes U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);

}  // namespace platform
