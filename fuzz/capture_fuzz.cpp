// Drives a capture's bytes through what varkel-check runs, from reading to
// the verdict's texts. Built once per reader (VCD, sigrok session), each
// with its own seed corpus; the readers tell the formats apart themselves.
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/varkel-check/run.h"

namespace {

// A grouped count ("1,204") at `at`, moving past it; false if none is there.
bool CountAt(const std::string& text, std::size_t& at, unsigned long long& n) {
    const std::size_t from = at;
    n = 0;
    while (at < text.size() && (std::isdigit(static_cast<unsigned char>(text[at])) || text[at] == ',')) {
        n = text[at] == ',' ? n : n * 10 + static_cast<unsigned>(text[at] - '0');
        ++at;
    }
    return at > from && text[from] != ',';
}

// Every "N of M" the texts say has N at most M: a count that exceeds its
// total is a lie, whatever the input.
void CountsWithinTotals(const std::string& text) {
    for (std::size_t at = text.find(" of "); at != std::string::npos; at = text.find(" of ", at + 4)) {
        std::size_t start = at;
        while (start > 0 &&
               (std::isdigit(static_cast<unsigned char>(text[start - 1])) || text[start - 1] == ',')) {
            --start;
        }
        std::size_t end = at + 4;
        unsigned long long some = 0, all = 0;
        if (start < at && CountAt(text, start, some) && start == at && CountAt(text, end, all) &&
            some > all) {
            std::abort();
        }
    }
}

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
        CountsWithinTotals(text);
    }
    ::close(fd);
    return 0;
}
