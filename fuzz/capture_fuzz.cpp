// Drives a capture's bytes through what varkel-check runs, from reading to
// the verdict's texts. Built once per reader (VCD, sigrok session), each
// with its own seed corpus; the readers tell the formats apart themselves.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/varkel-check/run.h"

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
    check::CheckRequest request;
    request.path = "capture";
    check::Outcome outcome;
    std::string error, text;
    if (check::CheckCapture(
            fd, request,
            [&](const check::WireFrame& frame, std::uint64_t startNs) {
                text = check::FrameLine(startNs, frame.risingValue, request.expect.bits);
            },
            {}, outcome, error)) {
        text = check::VerdictLine(outcome.report) + check::Details(outcome, request) +
               check::Json(outcome, request, "fuzz");
    }
    ::close(fd);
    return 0;
}
