// Reading a logic analyser's capture of the port's three output pins, as
// a stream of level changes in time order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace varkel_check {

enum class Line { Sclk, Sfrm, Txd };
inline constexpr int kLines = 3;

// The capture's names for the three pins, matched without regard to case.
struct LineNames {
    std::string sclk = "sclk";
    std::string sfrm = "sfrm";
    std::string txd = "txd";
};

struct CaptureInfo;

// What a capture holds, told in order: Begin once, the levels, End.
class CaptureSink {
  public:
    // Before the first level: what the capture is and its time unit (its
    // first and last ticks are not known yet). A sink that times what it
    // sees keeps the time unit from here.
    virtual void Begin(const CaptureInfo& /*info*/) {}
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

// Finds each line's signal among those a capture declares. A line's name
// fits a signal's full name, or its end after a scope ("sclk" and
// "ssp.sclk" both fit "top.ssp.sclk"), without regard to case; where it
// fits several signals, those of the same case are preferred, and if that
// leaves more than one, the name is ambiguous. Two lines may not share
// one signal. Memory stays bounded however many signals are offered.
class SignalPicker {
  public:
    explicit SignalPicker(const LineNames& names);
    // A signal of the capture: its full name, what the reader knows it by
    // (a value change dump's identifier, a session's channel number), and
    // its width in bits as the capture gives it.
    void Offer(std::string_view name, std::string_view id, std::string_view width = "1");
    // Each line's signal; false with one line saying why when a line has
    // none, or several, or one that is not a single wire, or one another
    // line has too.
    bool Pick(const std::string& path, std::string (&ids)[kLines], std::string& error) const;

  private:
    struct Fit {
        std::string name, id, width;
        bool sameCase;
    };
    std::string wanted_[kLines];
    std::vector<Fit> fits_[kLines];
    std::string seen_;  // the first signals' names, for a helpful error
    std::size_t offered_ = 0;
};

// A sample rate as a session's metadata gives it ("8.2 MHz", "1.001 kHz",
// "8000000"): samples a second, exactly, or 0 when it is not a whole
// number of hertz from 1 Hz to 100 GHz.
std::uint64_t SigrokSampleRate(std::string_view text);

// The two readers, for callers that know the format.
bool ReadVcd(int fd, const std::string& path, const LineNames& names, CaptureSink& sink, CaptureInfo& info,
             const Progress& progress, std::string& error);
bool ReadSigrokSession(int fd, const std::string& path, const LineNames& names, CaptureSink& sink,
                       CaptureInfo& info, const Progress& progress, std::string& error);

}  // namespace varkel_check
