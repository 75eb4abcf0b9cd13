#include "tools/varkel-check/capture/session_writer.h"

#include <libdeflate.h>

#include <utility>
#include <vector>

namespace varkel_check {
namespace {

void U16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8 & 0xFF);
}

void U32(std::string& s, std::uint32_t v) {
    U16(s, v & 0xFFFF);
    U16(s, v >> 16);
}

// A value as a key file carries it: one line, whatever the text holds (a
// newline, a leading space, a backslash), escaped as sigrok's reader
// unescapes it.
std::string KeyFileValue(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        out += c == '\\'            ? "\\\\"
               : c == '\n'          ? "\\n"
               : c == '\r'          ? "\\r"
               : c == '\t'          ? "\\t"
               : c == ' ' && i == 0 ? "\\s"
                                    : std::string(1, c);
    }
    return out;
}

}  // namespace

// Stored entries: every reader takes them, and windows are small.
std::string StoredZip(const std::vector<std::pair<std::string, std::string_view>>& entries) {
    std::string body, directory;
    for (const auto& [name, data] : entries) {
        const auto crc = static_cast<std::uint32_t>(libdeflate_crc32(0, data.data(), data.size()));
        const auto offset = static_cast<std::uint32_t>(body.size());
        const auto size = static_cast<std::uint32_t>(data.size());
        const auto nameSize = static_cast<unsigned>(name.size());
        U32(body, 0x04034b50);
        for (const unsigned v : {10u, 0u, 0u, 0u, 0u}) {  // version needed, flags, method, time, date
            U16(body, v);
        }
        U32(body, crc), U32(body, size), U32(body, size);
        U16(body, nameSize), U16(body, 0);
        body += name;
        body += data;
        U32(directory, 0x02014b50);
        for (const unsigned v : {20u, 10u, 0u, 0u, 0u, 0u}) {  // made by, needed, flags, method, time, date
            U16(directory, v);
        }
        U32(directory, crc), U32(directory, size), U32(directory, size);
        for (const unsigned v : {nameSize, 0u, 0u, 0u, 0u}) {  // name, extra, comment, disk, internal
            U16(directory, v);
        }
        U32(directory, 0), U32(directory, offset);
        directory += name;
    }
    std::string end;
    U32(end, 0x06054b50);
    U16(end, 0), U16(end, 0);
    U16(end, static_cast<unsigned>(entries.size())), U16(end, static_cast<unsigned>(entries.size()));
    U32(end, static_cast<std::uint32_t>(directory.size())), U32(end, static_cast<std::uint32_t>(body.size()));
    U16(end, 0);
    return body + directory + end;
}

std::string SessionFile(std::uint64_t sampleRate, std::string_view samples, const LineNames& names) {
    const std::string metadata =
        "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n"
        "total probes=3\nsamplerate=" +
        std::to_string(sampleRate) + " Hz\ntotal analog=0\nprobe1=" + KeyFileValue(names.sclk) +
        "\nprobe2=" + KeyFileValue(names.sfrm) + "\nprobe3=" + KeyFileValue(names.txd) + "\nunitsize=1\n";
    return StoredZip({{"version", "2"}, {"metadata", metadata}, {"logic-1-1", samples}});
}

}  // namespace varkel_check
