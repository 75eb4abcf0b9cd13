// Keeps what a live check needs to show a mismatch afterwards: the last
// level changes of the three lines, in a ring of fixed size, and for each
// wrong message a short session file (a little before it to a little after)
// in a folder, for PulseView. At most kMaxWindows are written; memory stays
// the same however long the run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/varkel-check/capture/capture.h"

namespace varkel_check {

class MismatchWindows : public CaptureSink {
  public:
    static constexpr unsigned kMaxWindows = 20;
    static constexpr unsigned kLastName = 99999;            // mismatch-99999.sr
    static constexpr double kMarginSeconds = 1e-3;          // before and after a message
    static constexpr std::uint64_t kMaxSamples = 1u << 20;  // of one window

    // Passes everything on to `next`. `dir` exists.
    MismatchWindows(CaptureSink& next, std::string dir, const LineNames& names);
    // Keeps the sample rate, for the windows' files.
    void Begin(const CaptureInfo& info) override;
    void Change(std::uint64_t tick, Line line, char level) override;
    void End(std::uint64_t tick) override;

    // Writes the window around the message from `startTick` to `endTick`,
    // if fewer than kMaxWindows are written; a name already there is never
    // written over.
    void Save(std::uint64_t startTick, std::uint64_t endTick);

    unsigned saved() const { return saved_; }
    unsigned notSaved() const { return notSaved_; }
    const std::string& firstSaved() const { return first_; }
    const std::string& error() const { return error_; }  // the first window that could not be written

  private:
    struct Entry {
        std::uint64_t tick;
        unsigned char levels;  // sclk bit 0, sfrm bit 1, txd bit 2, from this tick on
    };
    static constexpr std::size_t kRing = 1u << 16;

    CaptureSink& next_;
    std::string dir_;
    double secondsPerTick_ = 0;
    LineNames names_;
    std::vector<Entry> ring_;
    std::size_t head_ = 0;  // the oldest entry, once the ring is full
    unsigned char levels_ = 0;
    std::uint64_t now_ = 0;
    unsigned saved_ = 0, notSaved_ = 0, nextName_ = 1;
    std::string first_, error_;
};

}  // namespace varkel_check
