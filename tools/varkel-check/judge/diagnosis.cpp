#include "tools/varkel-check/judge/diagnosis.h"

#include <cmath>
#include <cstdio>
#include <optional>

namespace varkel_check {
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
Commonest CommonestOf(const std::uint64_t (&byRises)[Evidence::kTrackedRises + 1]) {
    Commonest c;
    for (unsigned n = 0; n <= Evidence::kTrackedRises; ++n) {
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

std::string Counted(std::uint64_t n, const std::string& one, const std::string& many) {
    return Grouped(n) + " " + (n == 1 ? one : many);
}

namespace {

// What every rule looks at: the words' framing, the lines' evidence, what
// the checker found, and what follows from them.
struct Facts {
    Facts(const Framing& f, const Evidence& e, const Findings& r, const DiagnosisSettings& s)
        : framing(f), lines(e), found(r), settings(s) {
        idleHigh = Most(lines.restsHigh, lines.rests);
        sampledOnFall = Most(lines.changesWhileHigh, lines.wordsWithPhase);
        sampledOnRise = Most(lines.wordsWithPhase - lines.changesWhileHigh, lines.wordsWithPhase);
        wrong = found.wrongMessages;
        // Right only on the falling edge: MSB first, or LSB first where the
        // rising edge's reading LSB first is not right too.
        rightOnFall = wrong != 0 && (found.rightOnFall == wrong ||
                                     (found.rightBoth == wrong && found.rightLsbFirst != wrong));
        andLsbFirst = rightOnFall && found.rightOnFall != wrong ? ", and LSB first" : "";
        phaseByBytesOnly = rightOnFall && !sampledOnFall && !idleHigh;
        period = CommonestOf(lines.periodsByRises);
        burst = CommonestOf(lines.burstsByRises);
        bits = std::to_string(settings.bits);
    }
    const Framing& framing;
    const Evidence& lines;
    const Findings& found;
    const DiagnosisSettings& settings;
    bool idleHigh, sampledOnFall, sampledOnRise, rightOnFall, phaseByBytesOnly;
    unsigned wrong;
    std::string andLsbFirst, bits;
    Commonest period, burst;

    bool MessagesWrongOrNone() const { return found.messages == 0 || wrong != 0; }
};

using Cause = std::optional<Mismatch>;

Cause Whole(std::string what) {
    return Mismatch{0, 0, 0, std::move(what)};
}

// The rules, one to a question. Each tests the facts and, if they show
// it, says the cause.

Cause NoActivity(const Facts& f) {
    const auto& c = f.lines.changes;
    if (c[0] + c[1] + c[2] != 0) {
        return {};
    }
    return Whole("no activity on sclk, sfrm or txd: the port sent nothing, or its pins are not these");
}

// Most of the clock running while the select is inactive: its active
// level is the other one.
Cause SelectTheOtherWay(const Facts& f) {
    const Evidence& l = f.lines;
    const std::string inactive = f.settings.selectActiveHigh ? "low" : "high";
    if (l.changes[static_cast<int>(Line::Sfrm)] == 0 || l.clockRises < f.settings.bits ||
        l.risesWhileActive * 2 >= l.clockRises) {
        return {};
    }
    return Whole(Count(l.clockRises - l.risesWhileActive, l.clockRises) +
                 " rising clock edges come while the frame line is " + inactive +
                 ": a select that is active " + inactive + " (--select-active " + inactive +
                 "), or not the frame line (--sfrm)?");
}

Cause SelectNeverActive(const Facts& f) {
    if (f.lines.selectWentActive) {
        return {};
    }
    return Whole("sclk or txd change but the frame line never goes " +
                 std::string(f.settings.selectActiveHigh ? "high" : "low") +
                 ": is sfrm routed to the port, and is it the signal named here (--sfrm)?");
}

// The clock's polarity: where it rests while selected. With it, the phase
// from the data's changes, where they show one.
Cause Polarity(const Facts& f) {
    if (!f.idleHigh) {
        return {};
    }
    return Whole("the clock rests high in " + Count(f.lines.restsHigh, f.lines.rests) +
                 " rests while selected: the other clock polarity (CPOL 1; " +
                 (f.sampledOnFall   ? "the data changes on its rising edge: SPI mode 2)"
                  : f.sampledOnRise ? "the data changes on its falling edge: SPI mode 3)"
                                    : "SPI mode 2 or 3)"));
}

// The clock's phase, clock polarity 0: from the clock's level as the data
// changes where the words show it, else from wrong messages that read
// right sampled on the falling edge. Only changes the sampling cannot have
// placed vote.
Cause Phase(const Facts& f) {
    if (f.idleHigh) {
        return {};
    }
    if (f.sampledOnFall) {
        return Whole("the data changes on the rising clock edge in " +
                     Count(f.lines.changesWhileHigh, f.lines.wordsWithPhase) + " frames" +
                     (f.rightOnFall ? " and is right only sampled on the falling one" : "") +
                     ": the other clock phase (CPHA 1, SPI mode 1)" + f.andLsbFirst);
    }
    if (f.rightOnFall) {
        return Mismatch{
            f.found.wrongMessageStart, f.found.bytes.message, 0,
            "the data is right only sampled on the falling clock edge: the other clock phase (CPHA 1)" +
                f.andLsbFirst};
    }
    return {};
}

// A select that closes on the sample of a clock edge: that edge is not
// read, as sigrok reads it, and the word it would have ended is lost. The
// capture cannot tell whether the port or the sampling lost it.
Cause WordsLostAtClose(const Facts& f) {
    if (f.framing.wordsLostAtClose == 0 || !f.MessagesWrongOrNone()) {
        return {};
    }
    return Whole(Count(f.framing.wordsLostAtClose, f.framing.selectClosedOnEdge) +
                 " select periods that close on the sample of a clock edge end inside a word, which is not "
                 "read (as sigrok reads it): sample faster to tell whether the port or the capture lost it");
}

// Words of another width, as the lines show it: select periods that end
// inside a word, or clock bursts that are no whole number of words.
Cause WidthByPeriods(const Facts& f) {
    const Commonest& period = f.period;
    const Commonest& burst = f.burst;
    if (f.framing.partialWords * 2 > period.all && period.rises % f.settings.bits != 0 &&
        period.rises < Evidence::kTrackedRises) {
        return Whole(Count(f.framing.partialWords, period.all) + " select periods end inside a word of " +
                     f.bits + " bits; most hold " + Counted(period.rises, "clock pulse", "clock pulses") +
                     ": " + WidthHint(period.rises));
    }
    if (Most(burst.count, burst.all) && burst.rises % f.settings.bits != 0 &&
        burst.rises < Evidence::kTrackedRises) {
        return Whole(Count(burst.count, burst.all) + " clock bursts hold " +
                     Counted(burst.rises, "pulse", "pulses") + ", no whole number of " + f.bits +
                     "-bit words: " + WidthHint(burst.rises));
    }
    return {};
}

Cause NoCompleteMessage(const Facts& f) {
    if (f.found.messages != 0) {
        return {};
    }
    const std::string saw = Grouped(f.lines.clockRises) + " rising clock edges, " +
                            Grouped(f.framing.wordsAlone + f.framing.wordsShared) + " whole words of " +
                            f.bits + " bits";
    return Whole(f.found.partialMessages != 0
                     ? "no complete message: the capture holds only part of one (" + saw + ")"
                     : "no complete word of " + f.bits + " clock pulses (" + saw + ")");
}

Cause BitTime(const Facts& f) {
    const Findings& r = f.found;
    if (!r.bitTimed || std::fabs(r.bitNs / r.expectedBitNs - 1) <= r.bitTolerance) {
        return {};
    }
    Mismatch m = r.bitTime;
    if (m.message == 0) {  // no one frame strayed: the mean did
        m = {0, 1, 0, {}};
    }
    m.what = BitTimeText(r);
    return m;
}

Cause BitCount(const Facts& f) {
    return f.found.bitCount.what.empty() ? Cause{} : Cause{f.found.bitCount};
}

// Bit order: the wrong messages read right LSB first, and no clock phase
// explains them.
Cause BitOrder(const Facts& f) {
    if (f.wrong == 0 || f.phaseByBytesOnly || f.found.rightLsbFirst != f.wrong) {
        return {};
    }
    return Mismatch{f.found.wrongMessageStart, f.found.bytes.message, 0,
                    "bits in reverse order: the bytes read right LSB first"};
}

// The first wrong word, where nothing above explains the wrong messages.
Cause WrongWord(const Facts& f) {
    if (f.found.bytes.what.empty() || f.phaseByBytesOnly || f.found.rightLsbFirst == f.wrong) {
        return {};
    }
    return f.found.bytes;
}

// Select periods or bursts that all hold some other whole number of words
// than one or a message: words of that width, perhaps. Reading them as
// words of --bits is sound framing, so only where messages are wrong.
Cause WidthByWholeWords(const Facts& f) {
    if (!f.MessagesWrongOrNone()) {
        return {};
    }
    const std::uint64_t message = f.settings.bits * f.settings.messageWords;
    auto other = [&](const Commonest& c) {
        return Most(c.count, c.all) && c.rises != f.settings.bits && c.rises % f.settings.bits == 0 &&
               c.rises != message && c.rises < Evidence::kTrackedRises;
    };
    const std::string notThese = ", not " + f.bits + " or " + std::to_string(message) + ": ";
    if (other(f.period)) {
        return Whole(Count(f.period.count, f.period.all) + " select periods hold " +
                     std::to_string(f.period.rises) + " clock pulses" + notThese + WidthHint(f.period.rises));
    }
    if (other(f.burst)) {
        return Whole(Count(f.burst.count, f.burst.all) + " clock bursts hold " +
                     std::to_string(f.burst.rises) + " pulses" + notThese + WidthHint(f.burst.rises));
    }
    return {};
}

Cause Interval(const Facts& f) {
    return f.found.interval.what.empty() ? Cause{} : Cause{f.found.interval};
}

struct Rule {
    Cause (*judge)(const Facts&);
    bool alone;  // when it applies, nothing else is weighed: without it the words mean nothing
};

// Likeliest first: the order is the causes' priority.
constexpr Rule kRules[] = {
    {NoActivity, true},
    {SelectTheOtherWay, true},
    {SelectNeverActive, true},
    {Polarity, false},
    {Phase, false},
    {WordsLostAtClose, false},
    {WidthByPeriods, false},
    {NoCompleteMessage, false},
    {BitTime, false},
    {BitCount, false},
    {BitOrder, false},
    {WrongWord, false},
    {WidthByWholeWords, false},
    {Interval, false},
};

}  // namespace

std::vector<Mismatch> Diagnose(const Framing& framing, const Evidence& lines, const Findings& found,
                               const DiagnosisSettings& settings) {
    const Facts facts(framing, lines, found, settings);
    std::vector<Mismatch> causes;
    for (const Rule& rule : kRules) {
        if (Cause cause = rule.judge(facts)) {
            if (rule.alone) {
                return {*std::move(cause)};
            }
            causes.push_back(*std::move(cause));
        }
    }
    return causes;
}

}  // namespace varkel_check
