// Drives arbitrary files through libsigrok's input modules as -I reads
// them, into the same path to a verdict as a session file: the glue (the
// module's options, its packets, the lines among its channels) may not
// crash, and a read that succeeds has samples. The input's first byte
// picks the format.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/varkel-check/cli/acquire.h"
#include "tools/varkel-check/judge/pipeline.h"

// libsigrok's input modules keep a few bytes of some files they read (a
// channel's name, a list node), which no caller can free: leaks are not
// counted here; every other error the sanitizers see is.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* const kFormats[] = {
        "binary:numchannels=3:samplerate=1m",
        "binary:numchannels=8:samplerate=8m",
        "csv:samplerate=1m",
        "csv:samplerate=1m:header=false",
    };
    if (size == 0) {
        return 0;
    }
    const int fd = ::memfd_create("capture", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data + 1, size - 1) != static_cast<ssize_t>(size - 1) ||
        ::lseek(fd, 0, SEEK_SET) != 0) {
        std::abort();
    }
    varkel_check::LineNames names;
    names.sclk = "0";
    names.sfrm = "1";
    names.txd = "2";
    varkel_check::CheckPipeline pipeline(varkel_check::Expectation{});
    varkel_check::CaptureInfo info;
    std::string error;
    const bool read =
        varkel_check::ReadThroughInputModule(fd, kFormats[data[0] % 4], names, pipeline, info, error);
    ::close(fd);
    if (read) {
        (void)pipeline.Finish();
    } else if (error.empty()) {
        std::abort();  // a failure with no reason
    }
    return 0;
}
