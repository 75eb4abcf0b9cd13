// Live acquisition from a logic analyser through libsigrok: the device's
// packets go straight into the same path from samples to verdict that a
// session file takes, so nothing is stored and memory stays the same
// however long it runs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tools/varkel-check/capture/capture.h"

namespace varkel_check {

struct AcquireRequest {
    // A libsigrok driver and its options, as sigrok-cli spells them:
    // "fx2lafw", "demo:pattern=random", "fx2lafw:conn=1.5".
    std::string driver;
    std::string sampleRate;  // "8m", "24000000"; empty: the device's own
    // Device channel and the line it carries ("D0", "sclk"); empty: the
    // device channels named as the lines are.
    std::vector<std::pair<std::string, std::string>> channels;
    double seconds = 0;         // stop after this long; 0: no limit
    std::uint64_t samples = 0;  // stop after this many samples, the last packet cut to it; 0: no limit
    unsigned messages = 0;      // stop once this many messages are checked; 0: no limit
};

// What the acquisition saw, for the verdict and for a line on a terminal.
struct AcquireStatus {
    std::uint64_t samples = 0;
    double seconds = 0;
    bool stoppedBySignal = false;
    bool endedEarly = false;  // the device stopped sending on its own (unplugged?)
};

// Whether this build can acquire (it was built with libsigrok), and the
// library's version.
bool CanAcquire();
std::string AcquireLibrary();

// Acquires until a limit of `request` is reached, the run is asked to stop
// (common/stop.h), or the device stops, handing the samples to `sink` as level changes of
// the lines named in `names`. `info` is filled, and given to `sink`'s
// Begin, before the first level.
// `messagesChecked` answers how many messages are checked so far;
// `onTick`, about four times a second, sees the status. False, with one
// line, when the acquisition cannot start (no such driver, no device, a
// rate it does not offer, a channel it does not have) or fails; a device
// that stops mid-run is endedEarly, not a failure, when samples came.
bool Acquire(const AcquireRequest& request, const LineNames& names, CaptureSink& sink, CaptureInfo& info,
             const std::function<unsigned()>& messagesChecked,
             const std::function<void(const AcquireStatus&)>& onTick, AcquireStatus& status,
             std::string& error);

// Reads the capture open on `fd`, in a format of libsigrok's input modules
// as sigrok-cli's -I gives it ("csv:samplerate=1m", "binary:numchannels=3"),
// handing its three lines to `sink` as a session file's are. `info` is
// filled, and given to `sink`'s Begin, before the first level. False, with
// one line, for a format libsigrok lacks, an option it does not take, a
// file the module cannot read, no sample rate, or a line it has no
// channel for.
bool ReadThroughInputModule(int fd, const std::string& format, const LineNames& names, CaptureSink& sink,
                            CaptureInfo& info, std::string& error);

// The analysers libsigrok finds, one line each as sigrok-cli's --scan
// writes them ("fx2lafw:conn=1.5 - Vendor Model with 8 channels: D0 D1
// ..."), for every driver or only `driver`. False, with one line, when
// libsigrok cannot scan, or has no such driver.
bool ScanAnalysers(const std::string& driver, std::vector<std::string>& found, std::string& error);

}  // namespace varkel_check
