// A string as a JSON value, for the tools' summaries.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace tools {

inline std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += {'\\', c};
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace tools
