#include "tools/varkel-check/capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace check {

bool SameName(std::string_view name, std::string_view wanted) {
    return name.size() == wanted.size() && std::equal(name.begin(), name.end(), wanted.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string MissingSignal(Line line, const std::string& wanted, const std::string& path, const std::string& seen) {
    const char* option[] = {"--sclk", "--sfrm", "--txd"};
    return "no signal named " + wanted + " in " + path + " (it has: " + (seen.empty() ? "none" : seen) +
           "); name it with " + option[static_cast<int>(line)];
}

bool ReadCapture(const std::string& path, const LineNames& names, CaptureSink& sink, CaptureInfo& info,
                 std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    char head[4] = {};
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    if (n == 4 && std::memcmp(head, "PK\x03\x04", 4) == 0) {  // a zip archive: sigrok's session format
        ::close(fd);
        return ReadSigrokSession(path, names, sink, info, error);
    }
    const bool ok = ReadVcd(fd, path, names, sink, info, error);
    ::close(fd);
    return ok;
}

}  // namespace check
