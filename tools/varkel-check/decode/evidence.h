// What the lines show beyond the words, for a diagnosis to weigh: how much
// they moved, where the clock rests while selected, how its pulses bunch,
// and at which clock level the data changes within each word. Gathered
// beside the word decoder, as a stacked decoder is: fed the same level
// changes first, then told each word the decoder read.
#pragma once

#include <cstdint>
#include <deque>

#include "tools/varkel-check/capture/capture.h"
#include "tools/varkel-check/decode/words.h"

namespace varkel_check {

// A sampled change tells which way the clock stood only if a whole sample
// lies between it and every clock edge, and the clock runs slowly enough to
// leave room for that: this many samples a clock period at least.
inline constexpr std::uint64_t kMinPhaseSamples = 8;

struct Evidence {
    std::uint64_t changes[kLines] = {};  // toggles between 0 and 1 of each line
    bool selectWentActive = false;       // at some point, the capture's start included
    std::uint64_t clockRises = 0;        // all of them, select active or not
    std::uint64_t risesWhileActive = 0;
    // Where the clock rested while the select was active (as it opened,
    // before it closed, and in pauses between bursts), held at least two
    // samples, so clear of the select's edges: its polarity.
    std::uint64_t rests = 0, restsHigh = 0;
    // Select periods that began and ended in the capture, by their rising
    // clock edges; longer ones all count in the last. Those that closed on a
    // rising clock edge's sample are left out: the capture may have cut it.
    static constexpr unsigned kTrackedRises = 256;
    std::uint64_t periodsByRises[kTrackedRises + 1] = {};
    // Bursts of clock pulses within a select period, by their rising
    // edges: a pause in the clock of over twice its period ends one. Bursts
    // the capture's edges, or a select closing on a rising edge, cut are
    // left out.
    std::uint64_t burstsByRises[kTrackedRises + 1] = {};
    // Complete words whose data changes a whole sample clear of every clock
    // edge, with kMinPhaseSamples a clock period or more, and those of them
    // whose data changes mostly while the clock is high: a sender changes
    // its data while the clock is at the level before the edge it does not
    // sample on. And words whose data changes, but never so: the phase
    // cannot be told from them.
    std::uint64_t wordsWithPhase = 0, changesWhileHigh = 0, wordsUnclear = 0;
};

class EvidenceCollector : public Sampled {
  public:
    explicit EvidenceCollector(const DecoderSettings& settings) : settings_(settings) {}
    // Each level change comes before the word decoder sees it (Change).
    void End(std::uint64_t tick) override;
    // Each word the decoder read, once it has ended.
    void Take(const Word& word);

    const Evidence& evidence() const { return evidence_; }

  private:
    // A data change while selected, by what it can show: the clock's level
    // a sample clear of its edges, or nothing (too close to an edge).
    enum class Seen { High, Low, NearEdge };
    struct DataChange {
        std::uint64_t tick;
        Seen seen;
    };
    // Changes kept for the word they fall in; a word with more is unclear.
    static constexpr std::size_t kKeptChanges = 4096;

    void Settle() override;
    void Rest(char level);
    void Rise();
    void EndBurst();
    void EndPeriod(bool closedOnRise);
    void ClockEdge(bool pause);  // decides the changes since the last edge
    void Keep(std::uint64_t tick, Seen seen);

    DecoderSettings settings_;
    Evidence evidence_;
    bool active_ = false;
    bool periodCut_ = false;
    std::uint64_t openTick_ = 0;
    std::uint64_t periodRises_ = 0;
    // The last clock edge; whether one came in this select period; the half
    // periods of the burst going on, and the longest of them.
    std::uint64_t lastEdge_ = 0, burstHalves_ = 0, longestHalf_ = 0;
    bool edgeInPeriod_ = false;
    // Bursts, by rising edges.
    std::uint64_t burstRises_ = 0, lastRise_ = 0, shortestGap_ = 0;
    bool burstCut_ = false;
    // Data changes since the last edge, waiting for the next to say whether
    // they were clear of it; then those decided, until a word takes them.
    std::deque<DataChange> pending_, decided_;
    bool overflowed_ = false;  // more changes than kept: the words they fall in are unclear
};

}  // namespace varkel_check
