#include "tools/varkel-check/judge/diagnosis.h"

#include <cmath>
#include <cstdio>

namespace check {
namespace {

// Beyond this a bit time is not a setting off by a factor, and no factor
// is named.
constexpr double kMaxFactor = 1e6;
// The widest word --bits reads.
constexpr unsigned kMaxBits = 32;

// A cause needs three in four of the words that can show it.
bool Most(std::uint64_t some, std::uint64_t all) {
    return some != 0 && some * 4 >= all * 3;
}

// "2 of 2,681": how many of how many showed a thing.
std::string Count(std::uint64_t some, std::uint64_t all) {
    return Grouped(some) + " of " + Grouped(all);
}

// The commonest length in a table of lengths by rising edges.
struct Commonest {
    unsigned rises = 0;
    std::uint64_t count = 0, all = 0;
};
Commonest CommonestOf(const std::uint64_t (&byRises)[LineActivity::kTrackedRises + 1]) {
    Commonest c;
    for (unsigned n = 0; n <= LineActivity::kTrackedRises; ++n) {
        c.all += byRises[n];
        if (byRises[n] > c.count) {
            c.rises = n;
            c.count = byRises[n];
        }
    }
    return c;
}

std::string WidthHint(unsigned rises) {
    const std::string n = std::to_string(rises);
    return rises <= kMaxBits ? n + "-bit words? (--bits " + n + ")"
                             : n + "-bit words? (wider than --bits reads, " + std::to_string(kMaxBits) + ")";
}

std::string BitTimeText(const Findings& f) {
    char what[1024];  // room for any finite bit time
    const double ratio = f.bitNs / f.expectedBitNs;
    const double factor = ratio >= 1 ? ratio : 1 / ratio;
    const double whole = std::round(factor);
    if (factor > kMaxFactor) {
        std::snprintf(what, sizeof what,
                      "bit time %.1f ns is %s the expected %.1f ns: is the capture's time "
                      "unit right, and the port clock (--port-clock-hz)?",
                      f.bitNs, ratio >= 1 ? "over a million times" : "under a millionth of", f.expectedBitNs);
    } else if (whole >= 2 && std::fabs(factor - whole) < 0.02 * whole) {
        const std::string times = std::to_string(static_cast<long>(whole));
        std::snprintf(what, sizeof what, "bit time %.1f ns is %s the expected %.1f ns: %s", f.bitNs,
                      (ratio >= 1 ? times + " times" : "1/" + times + " of").c_str(), f.expectedBitNs,
                      "a port clock or clock-rate setting off by that factor (--port-clock-hz)");
    } else {
        std::snprintf(what, sizeof what, "bit time %.1f ns is %.1f%% %s than the expected %.1f ns", f.bitNs,
                      std::fabs(ratio - 1) * 100, ratio > 1 ? "longer" : "shorter", f.expectedBitNs);
    }
    return what;
}

}  // namespace

std::string Grouped(std::uint64_t n) {
    char text[32];  // 20 digits and 6 commas at most
    std::size_t at = sizeof text;
    for (int digits = 0; digits == 0 || n != 0; ++digits, n /= 10) {
        if (digits != 0 && digits % 3 == 0) {
            text[--at] = ',';
        }
        text[--at] = static_cast<char>('0' + n % 10);
    }
    return std::string(text + at, sizeof text - at);
}

void Weigh(ModeEvidence& e, const WireFrame& word) {
    if (!word.complete) {
        return;
    }
    const unsigned clear = word.dataChangesWhileHigh + word.dataChangesWhileLow;
    if (clear != 0 && word.BitTicks() >= static_cast<double>(kMinPhaseSamples)) {
        ++e.wordsWithPhase;
        e.changesWhileHigh += word.dataChangesWhileHigh > word.dataChangesWhileLow ? 1 : 0;
    } else if (clear + word.dataChangesNearEdge != 0) {
        ++e.wordsUnclear;
    }
}

std::vector<Mismatch> Diagnose(const LineActivity& lines, const ModeEvidence& mode, const Findings& found,
                               const DiagnosisSettings& settings) {
    std::vector<Mismatch> causes;
    auto whole = [&](std::string what) { causes.push_back({0, 0, 0, std::move(what)}); };
    const auto clock = static_cast<int>(Line::Sclk), frame = static_cast<int>(Line::Sfrm),
               data = static_cast<int>(Line::Txd);
    const std::string active = settings.selectActiveHigh ? "high" : "low";
    const std::string inactive = settings.selectActiveHigh ? "low" : "high";
    const std::string bits = std::to_string(settings.bits);

    // Without these the words mean nothing, and nothing else is weighed.
    if (lines.changes[clock] + lines.changes[frame] + lines.changes[data] == 0) {
        whole("no activity on sclk, sfrm or txd: the port sent nothing, or its pins are not these");
        return causes;
    }
    // Most of the clock running while the select is inactive: its active
    // level is the other one.
    if (lines.changes[frame] != 0 && lines.clockRises >= settings.bits &&
        lines.risesWhileActive * 2 < lines.clockRises) {
        whole(Count(lines.clockRises - lines.risesWhileActive, lines.clockRises) +
              " rising clock edges come while the frame line is " + inactive + ": a select that is active " +
              inactive + " (--select-active " + inactive + "), or not the frame line (--sfrm)?");
        return causes;
    }
    if (!lines.selectWentActive) {
        whole("sclk or txd change but the frame line never goes " + active +
              ": is sfrm routed to the port, and is it the signal named here (--sfrm)?");
        return causes;
    }

    // The clock mode: where the clock rests while selected, and the edge
    // the data is sampled on. A word votes for the falling edge when its
    // data changes while the clock is high, for the rising one while it is
    // low; only changes the sampling cannot have placed vote.
    const std::uint64_t voters = mode.wordsWithPhase;
    const std::uint64_t forFall = mode.changesWhileHigh;
    const std::uint64_t forRise = voters - forFall;
    const bool idleHigh = Most(lines.restsHigh, lines.rests);
    const bool sampledOnFall = Most(forFall, voters);
    const bool sampledOnRise = Most(forRise, voters);
    const unsigned wrong = found.wrongMessages;
    // Right only on the falling edge: MSB first, or LSB first where the
    // rising edge's reading LSB first is not right too.
    const bool rightOnFall = wrong != 0 && (found.rightOnFall == wrong ||
                                            (found.rightBoth == wrong && found.rightLsbFirst != wrong));
    const std::string andLsbFirst = rightOnFall && found.rightOnFall != wrong ? ", and LSB first" : "";
    if (idleHigh) {
        whole("the clock rests high in " + Count(lines.restsHigh, lines.rests) +
              " rests while selected: the other clock polarity (CPOL 1; " +
              (sampledOnFall   ? "the data changes on its rising edge: SPI mode 2)"
               : sampledOnRise ? "the data changes on its falling edge: SPI mode 3)"
                               : "SPI mode 2 or 3)"));
    } else if (sampledOnFall) {
        whole("the data changes on the rising clock edge in " + Count(forFall, voters) + " frames" +
              (rightOnFall ? " and is right only sampled on the falling one" : "") +
              ": the other clock phase (CPHA 1, SPI mode 1)" + andLsbFirst);
    }
    // A select that closes on the sample of a clock edge: that edge is not
    // read, as sigrok reads it, and the word it would have ended is lost.
    // The capture cannot tell whether the port or the sampling lost it.
    if (lines.wordsLostAtClose != 0 && (found.messages == 0 || wrong != 0)) {
        whole(Count(lines.wordsLostAtClose, lines.selectClosedOnEdge) +
              " select periods that close on the sample of a clock edge end inside a word, which is not "
              "read (as sigrok reads it): sample faster to tell whether the port or the capture lost it");
    }

    // Words of another width: select periods that end inside a word, or
    // clock bursts that are no whole number of words.
    const Commonest period = CommonestOf(lines.periodsByRises), burst = CommonestOf(lines.burstsByRises);
    const bool tracked = burst.rises < LineActivity::kTrackedRises;
    if (lines.partialWords * 2 > period.all && period.rises % settings.bits != 0 &&
        period.rises < LineActivity::kTrackedRises) {
        whole(Count(lines.partialWords, period.all) + " select periods end inside a word of " + bits +
              " bits; most hold " + std::to_string(period.rises) +
              " clock pulses: " + WidthHint(period.rises));
    } else if (Most(burst.count, burst.all) && burst.rises % settings.bits != 0 && tracked) {
        whole(Count(burst.count, burst.all) + " clock bursts hold " + std::to_string(burst.rises) +
              " pulses, no whole number of " + bits + "-bit words: " + WidthHint(burst.rises));
    }

    if (found.messages == 0) {
        const std::string saw = Grouped(lines.clockRises) + " rising clock edges, " +
                                Grouped(lines.wordsAlone + lines.wordsShared) + " whole words of " + bits +
                                " bits";
        whole(found.partialMessages != 0
                  ? "no complete message: the capture holds only part of one (" + saw + ")"
                  : "no complete word of " + bits + " clock pulses (" + saw + ")");
    }
    if (found.bitTimed && std::fabs(found.bitNs / found.expectedBitNs - 1) > found.bitTolerance) {
        Mismatch m = found.bitTime;
        if (m.message == 0) {  // no one frame strayed: the mean did
            m = {0, 1, 0, {}};
        }
        m.what = BitTimeText(found);
        causes.push_back(m);
    }
    if (!found.bitCount.what.empty()) {
        causes.push_back(found.bitCount);
    }
    if (!found.bytes.what.empty()) {
        // What reads the wrong messages right, unless the clock mode said it.
        Mismatch m = found.bytes;
        if (rightOnFall && !sampledOnFall && !idleHigh) {
            m = {found.wrongMessageStart, m.message, 0,
                 "the data is right only sampled on the falling clock edge: the other clock phase (CPHA 1)" +
                     andLsbFirst};
        } else if (found.rightLsbFirst == wrong) {
            m = {found.wrongMessageStart, m.message, 0,
                 "bits in reverse order: the bytes read right LSB first"};
        }
        causes.push_back(m);
    }
    // Select periods or bursts that all hold some other whole number of
    // words than one or a message: words of that width, perhaps.
    if (found.messages == 0 || wrong != 0) {
        const std::uint64_t message = settings.bits * settings.messageWords;
        auto other = [&](const Commonest& c) {
            return Most(c.count, c.all) && c.rises != settings.bits && c.rises % settings.bits == 0 &&
                   c.rises != message && c.rises < LineActivity::kTrackedRises;
        };
        if (other(period)) {
            whole(Count(period.count, period.all) + " select periods hold " + std::to_string(period.rises) +
                  " clock pulses, not " + bits + " or " + std::to_string(message) + ": " +
                  WidthHint(period.rises));
        } else if (other(burst)) {
            whole(Count(burst.count, burst.all) + " clock bursts hold " + std::to_string(burst.rises) +
                  " pulses, not " + bits + " or " + std::to_string(message) + ": " + WidthHint(burst.rises));
        }
    }
    if (!found.interval.what.empty()) {
        causes.push_back(found.interval);
    }
    return causes;
}

}  // namespace check
