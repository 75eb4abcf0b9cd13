#include "tools/varkel-check/capture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/escape.h"

namespace check {

bool SameName(std::string_view name, std::string_view wanted) {
    return name.size() == wanted.size() &&
           std::equal(name.begin(), name.end(), wanted.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string MissingSignal(Line line, const std::string& wanted, const std::string& path,
                          const std::string& seen) {
    const char* option[] = {"--sclk", "--sfrm", "--txd"};
    return "no signal named " + platform::Escaped(wanted) + " in " + platform::Escaped(path) +
           " (it has: " + (seen.empty() ? "none" : seen) + "); name it with " +
           option[static_cast<int>(line)];
}

bool ReadCapture(int fd, const std::string& path, const LineNames& names, CaptureSink& sink,
                 CaptureInfo& info, const Progress& progress, std::string& error) {
    // Only a file can be a session: its archive is read from the end.
    // Anything else (a pipe) is read once, from the start, as a dump.
    struct stat st {};
    char head[4] = {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::pread(fd, head, sizeof head, 0) == 4 &&
        std::memcmp(head, "PK\x03\x04", 4) == 0) {
        return ReadSigrokSession(fd, path, names, sink, info, progress, error);
    }
    return ReadVcd(fd, path, names, sink, info, progress, error);
}

}  // namespace check
