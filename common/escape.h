// Text from outside (the command line, a capture's names) made safe to
// show on a terminal: control characters and bytes that are not printable
// ASCII are written as \xNN.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace common {

// How much of a path, and of any other word from outside (an argument, a
// name), a message shows.
inline constexpr std::size_t kShownPath = 160;
inline constexpr std::size_t kShownWord = 64;

inline std::string Escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out.push_back(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        }
    }
    return out;
}

// The same, cut to its first `limit` bytes so that one name cannot fill a
// screen; a cut is marked with how long the whole was.
inline std::string Escaped(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return Escaped(text);
    }
    return Escaped(text.substr(0, limit)) + "... (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace common
