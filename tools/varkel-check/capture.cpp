#include "tools/varkel-check/capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace check {

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
