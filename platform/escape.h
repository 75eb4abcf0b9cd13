// Text from the command line made safe to show on a terminal: control
// characters and bytes that are not printable ASCII are written as \xNN.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

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

}  // namespace platform
