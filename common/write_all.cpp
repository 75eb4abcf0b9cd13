#include "common/write_all.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/stop.h"

namespace common {
namespace {

constexpr int kStoppingWaitMs = 200;

}  // namespace

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        std::size_t chunk = text.size();
        if (StopRequested()) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, kStoppingWaitMs) <= 0) {
                errno = EINTR;
                return false;
            }
            chunk = std::min<std::size_t>(chunk, PIPE_BUF);  // a pipe takes this much without blocking
        }
        const ssize_t n = ::write(fd, text.data(), chunk);
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR || StopRequested()) {
            return false;
        }
    }
    return true;
}

}  // namespace common
