// Writing a whole text to a descriptor, as every tool and the program's
// channels do.
#pragma once

#include <string_view>

namespace common {

// Writes all of `text` to `fd`, resuming after signals unless the run is
// stopping (common/stop.h): then a write that a signal interrupts is
// abandoned, and one that cannot go on at once waits only briefly, so a
// run can end while a reader has stopped reading. False, with errno set,
// when it could not; EINTR then means it was abandoned.
bool WriteAll(int fd, std::string_view text);

}  // namespace common
