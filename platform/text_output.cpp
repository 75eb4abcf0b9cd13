#include "platform/text_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>

namespace platform {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

namespace {

// One parsed conversion: everything between '%' and the conversion letter.
struct Spec {
    bool leftAlign = false;
    std::string flags;  // narrow flags, in order, for snprintf
    int width = -1;
    int precision = -1;
    std::string length;  // hh h l ll L j z t, or "I64"
    char conversion = 0;
};

void Pad(std::string& out, int count) {
    if (count > 0) {
        out.append(static_cast<std::size_t>(count), ' ');
    }
}

// Strings and characters are padded here, counted in characters, since the
// narrow snprintf would count bytes of the UTF-8 text.
template <typename CharT>
void AppendString(std::string& out, const Spec& spec, const CharT* text) {
    std::string body;
    if (text == nullptr) {
        body = "(null)";
        if (spec.precision >= 0 && spec.precision < 6) {
            body.resize(static_cast<std::size_t>(spec.precision));
        }
    } else {
        for (int n = 0; text[n] != 0 && (spec.precision < 0 || n < spec.precision); ++n) {
            if constexpr (sizeof(CharT) == 1) {
                body.push_back(static_cast<char>(text[n]));
            } else {
                AppendUtf8(body, static_cast<char32_t>(text[n]));
            }
        }
    }
    int chars = 0;
    for (const char c : body) {
        chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    const int padding = spec.width - chars;
    if (!spec.leftAlign) {
        Pad(out, padding);
    }
    out += body;
    if (spec.leftAlign) {
        Pad(out, padding);
    }
}

template <typename T>
void AppendNumber(std::string& out, const Spec& spec, T value) {
    std::string fmt = "%";
    fmt.append(spec.flags);
    if (spec.width >= 0) {
        fmt.append(std::to_string(spec.width));
    }
    if (spec.precision >= 0) {
        fmt.push_back('.');
        fmt.append(std::to_string(spec.precision));
    }
    fmt.append(spec.length == "I64" ? "ll" : spec.length);
    fmt.push_back(spec.conversion);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int n = std::snprintf(nullptr, 0, fmt.c_str(), value);
    if (n > 0) {
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(n) + 1);
        std::snprintf(out.data() + at, static_cast<std::size_t>(n) + 1, fmt.c_str(), value);
        out.resize(at + static_cast<std::size_t>(n));
    }
#pragma GCC diagnostic pop
}

void AppendSigned(std::string& out, Spec spec, va_list& args) {
    const std::string& len = spec.length;
    if (len == "ll" || len == "I64") {
        AppendNumber(out, spec, va_arg(args, long long));
    } else if (len == "l") {
        AppendNumber(out, spec, va_arg(args, long));
    } else if (len == "j") {
        AppendNumber(out, spec, va_arg(args, std::intmax_t));
    } else if (len == "z" || len == "t") {
        AppendNumber(out, spec, va_arg(args, std::ptrdiff_t));
    } else {
        AppendNumber(out, spec, va_arg(args, int));  // hh, h and none promote to int
    }
}

void AppendUnsigned(std::string& out, Spec spec, va_list& args) {
    const std::string& len = spec.length;
    if (len == "ll" || len == "I64") {
        AppendNumber(out, spec, va_arg(args, unsigned long long));
    } else if (len == "l") {
        AppendNumber(out, spec, va_arg(args, unsigned long));
    } else if (len == "j") {
        AppendNumber(out, spec, va_arg(args, std::uintmax_t));
    } else if (len == "z" || len == "t") {
        AppendNumber(out, spec, va_arg(args, std::size_t));
    } else {
        AppendNumber(out, spec, va_arg(args, unsigned int));
    }
}

// Renders a format of either width. `wideText` says whether a plain %s or
// %c takes a wide argument, as the debug channel's format does.
template <typename CharT>
void AppendFormat(std::string& out, const CharT* format, va_list& args, bool wideText) {
    if (format == nullptr) {
        return;
    }
    const CharT* p = format;
    while (*p != 0) {
        if (*p != '%') {
            if constexpr (sizeof(CharT) == 1) {
                out.push_back(static_cast<char>(*p));
            } else {
                AppendUtf8(out, static_cast<char32_t>(*p));
            }
            ++p;
            continue;
        }
        const CharT* start = p++;
        Spec spec;
        for (; *p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0'; ++p) {
            spec.leftAlign = spec.leftAlign || *p == '-';
            spec.flags.push_back(static_cast<char>(*p));
        }
        if (*p == '*') {
            spec.width = va_arg(args, int);
            if (spec.width < 0) {
                spec.leftAlign = true;
                spec.flags.push_back('-');
                spec.width = -spec.width;
            }
            ++p;
        } else {
            for (; *p >= '0' && *p <= '9'; ++p) {
                spec.width = (spec.width < 0 ? 0 : spec.width) * 10 + (*p - '0');
                if (spec.width > 4096) {
                    spec.width = 4096;  // a format, not an allocation request
                }
            }
        }
        if (*p == '.') {
            ++p;
            spec.precision = 0;
            if (*p == '*') {
                spec.precision = va_arg(args, int);
                ++p;
            } else {
                for (; *p >= '0' && *p <= '9'; ++p) {
                    spec.precision = spec.precision * 10 + (*p - '0');
                    if (spec.precision > 4096) {
                        spec.precision = 4096;
                    }
                }
            }
        }
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            spec.length = "I64";
            p += 3;
        } else {
            for (; *p == 'h' || *p == 'l' || *p == 'L' || *p == 'j' || *p == 'z' || *p == 't'; ++p) {
                spec.length.push_back(static_cast<char>(*p));
            }
        }
        spec.conversion = static_cast<char>(*p);
        switch (*p) {
            case 'd':
            case 'i':
                AppendSigned(out, spec, args);
                break;
            case 'u':
            case 'o':
            case 'x':
            case 'X':
                AppendUnsigned(out, spec, args);
                break;
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                if (spec.length == "L") {
                    AppendNumber(out, spec, va_arg(args, long double));
                } else {
                    spec.length.clear();
                    AppendNumber(out, spec, va_arg(args, double));
                }
                break;
            case 'p':
                spec.length.clear();
                AppendNumber(out, spec, va_arg(args, void*));
                break;
            case 'c':
            case 'C': {
                const bool wide = (*p == 'c') == wideText ? spec.length != "h" : spec.length == "l";
                const unsigned int value = va_arg(args, unsigned int);
                if (wide) {
                    const wchar_t text[2] = {static_cast<wchar_t>(value), 0};
                    AppendString(out, spec, text);
                } else {
                    const char text[2] = {static_cast<char>(value), 0};
                    AppendString(out, spec, text);
                }
                break;
            }
            case 's':
            case 'S': {
                const bool wide = (*p == 's') == wideText ? spec.length != "h" : spec.length == "l";
                if (wide) {
                    AppendString(out, spec, va_arg(args, const wchar_t*));
                } else {
                    AppendString(out, spec, va_arg(args, const char*));
                }
                break;
            }
            case 'n':
                (void)va_arg(args, void*);  // writing through a format is refused
                break;
            case '%':
                out.push_back('%');
                break;
            default:
                // Not a conversion: show it as written so the fault is visible.
                for (const CharT* q = start; q != p && *q != 0; ++q) {
                    out.push_back(static_cast<char>(*q));
                }
                if (*p == 0) {
                    return;
                }
                out.push_back(static_cast<char>(*p));
                break;
        }
        ++p;
    }
}

struct ChannelState {
    explicit ChannelState(int descriptor) : fd(descriptor) {}
    int fd;
    std::string* capture = nullptr;
    std::string pending;
    bool terminal = false;
};

constexpr std::size_t kFlushThreshold = 64 * 1024;

ChannelState g_debug(STDERR_FILENO);
ChannelState g_console(STDOUT_FILENO);
Channel g_last = Channel::Console;
int g_sharedKnown = -1;  // -1: not yet checked; else 0/1

ChannelState& State(Channel channel) {
    return channel == Channel::Debug ? g_debug : g_console;
}

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // nowhere to report it: the channel itself is gone
        }
        done += static_cast<std::size_t>(n);
    }
}

void Flush(ChannelState& state) {
    if (!state.pending.empty()) {
        WriteAll(state.fd, state.pending);
        state.pending.clear();
    }
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

void AppendWideFormat(std::string& out, const wchar_t* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    AppendFormat(out, format, copy, true);
    va_end(copy);
}

void AppendNarrowFormat(std::string& out, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    AppendFormat(out, format, copy, false);
    va_end(copy);
}

const std::string& PrintWide(Channel channel, const wchar_t* format, va_list args) {
    static std::string text;
    text.clear();
    AppendWideFormat(text, format, args);
    WriteChannel(channel, text);
    return text;
}

const std::string& PrintNarrow(Channel channel, const char* format, va_list args) {
    static std::string text;
    text.clear();
    AppendNarrowFormat(text, format, args);
    WriteChannel(channel, text);
    return text;
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

void ResetChannels() {
    g_debug = ChannelState(STDERR_FILENO);
    g_console = ChannelState(STDOUT_FILENO);
    g_last = Channel::Console;
    g_sharedKnown = -1;
}

}  // namespace platform
