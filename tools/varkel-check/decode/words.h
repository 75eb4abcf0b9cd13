// Words read off the port's three pins, as a logic analyser's SPI decoder
// reads them: while the select (frame) line is active, each rising clock
// edge takes one data bit, the level at that edge's own sample, and every
// `bits` of them make a word. A port may pulse its select for each word or
// hold it across several; both read the same. A rising edge on the sample
// where the select becomes active is a bit; one on the sample where it
// ends is not, and the word it would have ended is lost, as sigrok reads
// them. The decoder frames words and nothing else: the evidence a
// diagnosis weighs is gathered beside it (decode/evidence.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "tools/varkel-check/capture/capture.h"

namespace varkel_check {

struct DecoderSettings {
    unsigned bits = 8;  // a word's width, 1 to 32
    bool selectActiveHigh = false;
};

struct Word {
    std::uint64_t startTick = 0;      // the select becomes active, or the word's first clock edge
    std::uint64_t firstEdgeTick = 0;  // its first clock edge, rising or falling
    std::uint64_t endTick = 0;        // its last clock edge, or the select's end
    // The data line at each rising and each falling clock edge, first edge
    // in the highest bit.
    std::uint32_t risingValue = 0;
    std::uint32_t fallingValue = 0;
    unsigned rises = 0;
    unsigned falls = 0;
    std::uint64_t firstRiseTick = 0;
    std::uint64_t lastRiseTick = 0;
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

// How the words were framed, and what the reading left out or could not
// be sure of.
struct Framing {
    std::uint64_t wordsAlone = 0;   // words that had a select period to themselves
    std::uint64_t wordsShared = 0;  // words whose select period held others too
    // Select periods that began and ended in the capture, and did not close
    // on a rising clock edge's sample, that ended inside a word.
    std::uint64_t partialWords = 0;
    unsigned partialAtStart = 0;  // words the capture's start cut short
    unsigned partialAtEnd = 0;    // a word the capture's end cut short
    // Rising edges whose data bit changed on that very sample: the reading
    // is right only if the sender changed it just after the edge.
    std::uint64_t bitsChangedOnEdgeSample = 0;
    // Select periods that opened or closed on a rising clock edge's own
    // sample: which came first the capture cannot tell. Read as sigrok reads
    // them; one that closed so loses the word its last edge would have ended.
    std::uint64_t selectOpenedOnEdge = 0;
    std::uint64_t selectClosedOnEdge = 0;
    std::uint64_t wordsLostAtClose = 0;
};

// The three lines a sample at a time: the changes given for one tick are
// taken together, as the analyser sampled them, once the next tick (or the
// end) comes. `level_` holds the lines before that sample, `next_` at it.
class Sampled : public CaptureSink {
  public:
    void Change(std::uint64_t tick, Line line, char level) final;

  protected:
    // Takes the sample held, if one is: Settle(), then its levels become
    // the lines' levels.
    void TakeHeld();
    virtual void Settle() = 0;

    char level_[kLines] = {'?', '?', '?'};
    char next_[kLines] = {'?', '?', '?'};
    std::uint64_t tick_ = 0;

  private:
    bool holding_ = false;
};

class WordDecoder : public Sampled {
  public:
    // `onWord` sees each complete word as it ends, and each partial one
    // (complete false) a select period ended inside.
    WordDecoder(const DecoderSettings& settings, std::function<void(const Word&)> onWord)
        : settings_(settings), onWord_(std::move(onWord)) {}
    void End(std::uint64_t tick) override;

    const Framing& framing() const { return framing_; }

  private:
    void Settle() override;
    void StartWord(bool firstInPeriod);
    void Edge(bool rising, std::uint32_t bit);
    void EndWord(bool complete);
    void EndPeriod(bool closedOnRise);
    void Emit(const Word& word);

    DecoderSettings settings_;
    std::function<void(const Word&)> onWord_;
    Framing framing_;
    bool active_ = false;  // within a select period
    bool inWord_ = false;  // a word has begun: the period's start, or an edge since the last word
    bool periodCut_ = false;
    Word word_;
    // A period's first word waits for the next to begin, or the period to
    // end, so that it is known whether it shares the period.
    std::optional<Word> first_;
};

}  // namespace varkel_check
