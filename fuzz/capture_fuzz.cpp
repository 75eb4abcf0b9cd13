// Drives a capture's bytes through a reader, the way varkel-check reads a
// file. Built once per reader (VCD, sigrok session), each with its own
// seed corpus; the readers tell the formats apart themselves. What a reader
// hands on must be well formed whatever it was given: told it began once,
// before any level; levels of the three lines only, '0', '1' or 'x'; time
// never going back; an end no earlier than the last level.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/varkel-check/capture/capture.h"

namespace {

struct Checked : varkel_check::CaptureSink {
    void Begin(const varkel_check::CaptureInfo& info) override {
        Require(!begun && info.secondsPerTick > 0);
        begun = true;
    }
    void Change(std::uint64_t tick, varkel_check::Line line, char level) override {
        Require(begun && !ended && tick >= last && static_cast<int>(line) < varkel_check::kLines &&
                (level == '0' || level == '1' || level == 'x'));
        last = tick;
    }
    void End(std::uint64_t tick) override {
        Require(begun && !ended && tick >= last);
        ended = true;
    }
    static void Require(bool holds) {
        if (!holds) {
            std::abort();
        }
    }
    bool begun = false, ended = false;
    std::uint64_t last = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = ::memfd_create("capture", MFD_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            ::close(fd);
            return 0;
        }
        done += static_cast<std::size_t>(n);
    }
    // The reader starts where the descriptor stands: at the first byte, as
    // a capture opened from a file does.
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        ::close(fd);
        return 0;
    }
    Checked sink;
    varkel_check::CaptureInfo info;
    std::string error;
    const bool read = varkel_check::ReadCapture(fd, "capture", {}, sink, info, nullptr, error);
    Checked::Require(read ? sink.ended && error.empty() : !error.empty());
    ::close(fd);
    return 0;
}
