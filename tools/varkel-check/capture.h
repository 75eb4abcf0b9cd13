// Reading a logic analyser's capture of the port's three output pins, as
// a stream of level changes in time order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace check {

enum class Line { Sclk, Sfrm, Txd };
inline constexpr int kLines = 3;

// The capture's names for the three pins, matched without regard to case.
struct LineNames {
    std::string sclk = "sclk";
    std::string sfrm = "sfrm";
    std::string txd = "txd";
};

class CaptureSink {
  public:
    // A line's level from `tick` on: '0', '1', or 'x' for unknown or not
    // driven. The first change of each line gives its starting level.
    virtual void Change(std::uint64_t tick, Line line, char level) = 0;
    // The capture ends at `tick`.
    virtual void End(std::uint64_t tick) = 0;
    virtual ~CaptureSink() = default;
};

struct CaptureInfo {
    std::string format;      // "value change dump" or "sigrok session"
    std::string resolution;  // "1 ns", "4 MHz sampling"
    double secondsPerTick = 0;
    std::uint64_t startTick = 0;  // first time in the capture
    std::uint64_t endTick = 0;
};

// Told how many bytes a long read has taken so far, every few megabytes;
// false stops the read, which then fails with the error "interrupted".
using Progress = std::function<bool(std::uint64_t bytes)>;

// Reads the capture open on `fd` (named `path` in messages), a value
// change dump or a sigrok session file, told apart by their contents.
// False, with one line saying why, when it cannot be read, is damaged, or
// does not hold the three lines: no level reaches `sink` from a capture
// that is not whole without the read failing before it ends.
bool ReadCapture(int fd, const std::string& path, const LineNames& names, CaptureSink& sink,
                 CaptureInfo& info, const Progress& progress, std::string& error);

// Whether a capture's signal name is `wanted`, without regard to case.
bool SameName(std::string_view name, std::string_view wanted);
// The line that says the capture has no signal for `line`; `seen` lists
// the names it has, already made safe to show.
std::string MissingSignal(Line line, const std::string& wanted, const std::string& path,
                          const std::string& seen);

// The two readers, for callers that know the format.
bool ReadVcd(int fd, const std::string& path, const LineNames& names, CaptureSink& sink, CaptureInfo& info,
             const Progress& progress, std::string& error);
bool ReadSigrokSession(int fd, const std::string& path, const LineNames& names, CaptureSink& sink,
                       CaptureInfo& info, const Progress& progress, std::string& error);

}  // namespace check
