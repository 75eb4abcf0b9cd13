#include "platform/text_format.h"

#include <locale.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string_view>
#include <vector>

namespace platform {
namespace {

constexpr std::size_t kMaxDigits = 4;       // widths and precisions: a format, not an allocation
constexpr std::size_t kMaxChars = 1 << 16;  // longest text one call may produce

template <typename CharT>
bool IsOneOf(CharT c, const char* set) {
    return c > 0 && c < 0x80 && std::strchr(set, static_cast<char>(c)) != nullptr;
}

// Copies `format` into the C library's convention, or returns false when
// it holds a conversion the library must not see.
template <typename CharT>
bool ToLibraryFormat(const CharT* format, bool wideText, std::basic_string<CharT>& out) {
    for (const CharT* p = format; *p != 0; ++p) {
        out.push_back(*p);
        if (*p != '%' || *++p == '%') {
            out.append(*p == '%' ? 1 : 0, *p);
            continue;
        }
        const CharT* spec = p;
        while (IsOneOf(*p, "-+ #0")) {
            ++p;
        }
        for (int part = 0; part < 2; ++part) {  // width, then '.' and precision
            p += part == 1 && *p == '.' ? 1 : 0;
            const CharT* digits = p;
            while (*p >= '0' && *p <= '9') {
                ++p;
            }
            if (p - digits > static_cast<std::ptrdiff_t>(kMaxDigits)) {
                return false;
            }
        }
        out.append(spec, p);
        std::string length;
        while (IsOneOf(*p, "hlLjzt") && length.size() < 2) {
            length.push_back(static_cast<char>(*p++));
        }
        std::string_view emitted = length;
        if (*p == 's' || *p == 'c') {
            if (length != "" && length != "l" && (length != "h" || !wideText)) {
                return false;
            }
            if (wideText) {
                emitted = length == "h" ? "" : "l";  // the program's %s is wide, its %hs narrow
            }
        } else if (!IsOneOf(*p, "diouxXeEfFgGaAp") ||
                   (length.size() == 2 && length != "hh" && length != "ll")) {
            return false;
        }
        out.append(emitted.begin(), emitted.end());
        out.push_back(*p);
    }
    return true;
}

int Render(wchar_t* buffer, std::size_t size, const wchar_t* format, va_list args) {
    return std::vswprintf(buffer, size, format, args);
}

int Render(char* buffer, std::size_t size, const char* format, va_list args) {
    const int n = std::vsnprintf(buffer, size, format, args);
    return n >= 0 && static_cast<std::size_t>(n) < size ? n : -1;
}

void Append(std::string& out, const wchar_t* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        AppendUtf8(out, static_cast<char32_t>(text[i]));
    }
}
void Append(std::string& out, const char* text, std::size_t length) {
    out.append(text, length);
}

template <typename CharT>
void AppendFormat(std::string& out, const CharT* format, bool wideText, va_list args) {
    if (format == nullptr) {
        return;
    }
    // Narrow strings in wide formats, and wide ones in narrow formats, are
    // UTF-8 whatever the process's locale.
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    std::basic_string<CharT> translated;
    if (ToLibraryFormat(format, wideText, translated)) {
        const locale_t previous = utf8 != nullptr ? uselocale(utf8) : nullptr;
        int n = -1;
        for (std::size_t size = 256; n < 0 && size <= kMaxChars; size *= 16) {
            std::vector<CharT> buffer(size);
            va_list copy;
            va_copy(copy, args);
            n = Render(buffer.data(), size, translated.c_str(), copy);
            va_end(copy);
            if (n >= 0) {
                Append(out, buffer.data(), static_cast<std::size_t>(n));
            }
        }
        if (previous != nullptr) {
            uselocale(previous);
        }
        if (n >= 0) {
            return;
        }
    }
    Append(out, format, std::char_traits<CharT>::length(format));
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    const int extra = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    constexpr unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out.push_back(static_cast<char>(kLead[extra] | (cp >> (6 * extra))));
    for (int i = extra - 1; i >= 0; --i) {
        out.push_back(static_cast<char>(0x80 | ((cp >> (6 * i)) & 0x3F)));
    }
}

void AppendWideFormat(std::string& out, const wchar_t* format, va_list args) {
    AppendFormat(out, format, true, args);
}

void AppendNarrowFormat(std::string& out, const char* format, va_list args) {
    AppendFormat(out, format, false, args);
}

}  // namespace platform
