// Words read off the port's three pins, as a logic analyser's SPI decoder
// reads them: while the select (frame) line is active, each rising clock
// edge takes one data bit, the level at that edge's own sample, and every
// `bits` of them make a word. A port may pulse its select for each word or
// hold it across several; both read the same. A rising edge on the sample
// where the select becomes active is a bit; one on the sample where it
// ends is not, and the word it would have ended is lost, as sigrok reads
// them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "tools/varkel-check/capture/capture.h"

namespace check {

struct DecoderSettings {
    unsigned bits = 8;  // a word's width, 1 to 32
    bool selectActiveHigh = false;
};

// A sampled change tells which way the clock stood only if a whole sample
// lies between it and every clock edge, and the clock runs slowly enough to
// leave room for that: this many samples a clock period at least.
inline constexpr std::uint64_t kMinPhaseSamples = 8;

struct WireFrame {
    std::uint64_t startTick = 0;  // the select becomes active, or the word's first clock edge
    std::uint64_t endTick = 0;    // its last clock edge, or the select's end
    // The data line at each rising and each falling clock edge, first edge
    // in the highest bit.
    std::uint32_t risingValue = 0;
    std::uint32_t fallingValue = 0;
    unsigned rises = 0;
    unsigned falls = 0;
    std::uint64_t firstRiseTick = 0;
    std::uint64_t lastRiseTick = 0;
    // Data changes between the word's first and last clock edge, a whole
    // sample clear of every clock edge and not in a pause of the clock, by
    // the clock's level: a sender changes its data while the clock is at
    // the level before the edge it does not sample on, so changes while high
    // mean sampling on the falling edge, while low on the rising one.
    unsigned dataChangesWhileHigh = 0;
    unsigned dataChangesWhileLow = 0;
    // Data changes on or a sample from a clock edge: before it or after it,
    // the capture cannot tell.
    unsigned dataChangesNearEdge = 0;
    bool firstInPeriod = true;      // the first word of its select period
    bool sharesPeriod = false;      // its select period holds other words too
    bool complete = true;           // false: its select period ended `rises` edges into it
    bool periodCutAtStart = false;  // its select period was active when the capture began

    // Ticks per bit, from the first to the last rising edge; 0 with fewer
    // than two.
    double BitTicks() const;
};

// Bits in reverse order.
std::uint32_t Reversed(std::uint32_t value, unsigned bits);

// What the lines did, beyond the words.
struct LineActivity {
    std::uint64_t changes[kLines] = {};  // toggles between 0 and 1 of each line
    bool selectWentActive = false;       // at some point, the capture's start included
    std::uint64_t clockRises = 0;        // all of them, select active or not
    std::uint64_t risesWhileActive = 0;
    std::uint64_t selectPeriods = 0;  // that began in the capture
    std::uint64_t wordsAlone = 0;     // words that had a select period to themselves
    std::uint64_t wordsShared = 0;    // words whose select period held others too
    // Select periods, of those counted in periodsByRises, that ended inside
    // a word.
    std::uint64_t partialWords = 0;
    unsigned partialAtStart = 0;  // a word the capture's start cut short
    unsigned partialAtEnd = 0;    // a word the capture's end cut short
    // Rising edges whose data bit changed on that very sample: the reading
    // is right only if the sender changed it just after the edge.
    std::uint64_t bitsChangedOnEdgeSample = 0;
    // The select's edges on a clock edge's own sample: which came first the
    // capture cannot tell. Read as sigrok reads them (above); a select that
    // closed so loses the word its last edge would have ended.
    std::uint64_t selectOpenedOnEdge = 0;
    std::uint64_t selectClosedOnEdge = 0;
    std::uint64_t wordsLostAtClose = 0;
    // Where the clock rested while the select was active (as it opened,
    // before it closed, and in pauses between bursts), held at least two
    // samples, so clear of the select's edges: its polarity.
    std::uint64_t rests = 0, restsHigh = 0;
    // Select periods that began and ended in the capture, by their rising
    // clock edges; longer ones all count in the last. Those that closed on a
    // clock edge's sample are left out: the capture may have cut an edge.
    static constexpr unsigned kTrackedRises = 256;
    std::uint64_t periodsByRises[kTrackedRises + 1] = {};
    // Bursts of clock pulses within a select period, by their rising
    // edges: a pause in the clock of over twice its period ends one. Bursts
    // the capture's edges, or a select closing on an edge, cut are left out.
    std::uint64_t burstsByRises[kTrackedRises + 1] = {};
};

class FrameDecoder : public CaptureSink {
  public:
    // `onWord` sees each complete word as it ends, and each partial one
    // (complete false) a select period ended inside.
    FrameDecoder(const DecoderSettings& settings, std::function<void(const WireFrame&)> onWord)
        : settings_(settings), onWord_(std::move(onWord)) {}
    void Change(std::uint64_t tick, Line line, char level) override;
    void End(std::uint64_t tick) override;

    const LineActivity& activity() const { return activity_; }

  private:
    void Settle();  // applies the changes of the tick held
    void StartWord(bool firstInPeriod);
    void Edge(bool rising, std::uint32_t bit);
    void EndWord(bool complete);
    void EndPeriod(bool closedOnEdge);
    void Rise();
    void EndBurst();
    void Emit(const WireFrame& word);
    void Rest(char level);
    void DataChange();
    void CreditChanges(std::uint64_t edgeTick, bool pause);

    DecoderSettings settings_;
    std::function<void(const WireFrame&)> onWord_;
    LineActivity activity_;
    char level_[kLines] = {'?', '?', '?'};
    char next_[kLines] = {'?', '?', '?'};
    std::uint64_t tick_ = 0;
    bool holding_ = false;
    bool active_ = false;  // within a select period
    bool inWord_ = false;  // a word has begun: the period's start, or an edge since the last word
    bool periodCut_ = false;
    unsigned periodWords_ = 0;
    std::uint64_t periodRises_ = 0;
    WireFrame word_;
    std::uint64_t burstRises_ = 0;
    std::uint64_t lastRise_ = 0;
    std::uint64_t shortestGap_ = 0;  // between this burst's rising edges
    bool burstCut_ = false;          // begun before the capture did
    // The last clock edge; the half periods of the burst going on, and the
    // longest of them.
    std::uint64_t lastEdge_ = 0, burstHalves_ = 0, longestHalf_ = 0;
    bool edgeInPeriod_ = false;
    std::uint64_t openTick_ = 0;
    // Data changes since the last edge, clear of it, by the clock's level;
    // the latest of them, which the next edge may yet come too close to.
    unsigned pendingHigh_ = 0, pendingLow_ = 0;
    std::uint64_t lastChange_ = 0;
    bool lastChangeHigh_ = false, lastChangePending_ = false;
    // A period's first word waits for the next to begin, or the period to
    // end, so that it is known whether it shares the period.
    std::optional<WireFrame> first_;
};

}  // namespace check
