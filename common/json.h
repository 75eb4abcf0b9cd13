// A string as a JSON value, for the tools' summaries.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace common {

// The length of the well-formed UTF-8 sequence at the start of `text`
// (no overlong forms, no surrogates, nothing past U+10FFFF), or 0.
inline std::size_t Utf8Sequence(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead < 0x80                    ? 1
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    const unsigned char second = length > 1 ? byte(1) : 0;
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
        return 0;
    }
    return length;
}

// Always valid JSON and valid UTF-8: control characters are escaped, and
// a byte that is not part of well-formed UTF-8 (a file name from an older
// system, say) becomes U+FFFD.
inline std::string JsonString(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        const char c = text.front();
        const std::size_t length = Utf8Sequence(text);
        if (c == '"' || c == '\\') {
            out += {'\\', c};
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += hex;
        } else if (length == 0) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length == 0 ? 1 : length);
    }
    return out + "\"";
}

}  // namespace common
