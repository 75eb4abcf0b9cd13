#include "tools/varkel-check/check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace check {
namespace {

// Frames further apart than this many bit times start a new message.
constexpr double kMessageGapBits = 50;
// Beyond this a bit time is not a setting off by a factor, and no factor
// is named.
constexpr double kMaxFactor = 1e6;

// "2 of 2,681": how many of how many showed a thing.
std::string Count(std::uint64_t some, std::uint64_t all) {
    return Grouped(some) + " of " + Grouped(all);
}

std::string Byte(std::uint32_t value) {
    char text[24];
    if (value >= 0x21 && value < 0x7F) {
        std::snprintf(text, sizeof text, "0x%02X '%c'", value, static_cast<char>(value));
    } else {
        std::snprintf(text, sizeof text, "0x%02X", value);
    }
    return text;
}

std::vector<std::uint8_t> Bytes(const std::vector<WireFrame>& frames, bool falling, bool lsbFirst,
                                unsigned bits) {
    std::vector<std::uint8_t> out;
    for (const WireFrame& f : frames) {
        const std::uint32_t value = falling ? f.fallingValue : f.risingValue;
        out.push_back(static_cast<std::uint8_t>(lsbFirst ? Reversed(value, bits) : value));
    }
    return out;
}

// What one dropped or added frame would explain, or empty.
std::string FrameCountCause(const std::vector<std::uint8_t>& seen, const std::vector<std::uint8_t>& expected,
                            unsigned& at) {
    for (std::size_t j = 0; j < std::max(seen.size(), expected.size()); ++j) {
        std::vector<std::uint8_t> fixed = seen;
        if (seen.size() + 1 == expected.size()) {
            fixed.insert(fixed.begin() + static_cast<std::ptrdiff_t>(j), expected[j]);
            if (fixed == expected) {
                at = static_cast<unsigned>(j + 1);
                return "frame " + std::to_string(j + 1) + " (" + Byte(expected[j]) + ") is missing";
            }
        } else if (seen.size() == expected.size() + 1 && j < seen.size()) {
            fixed.erase(fixed.begin() + static_cast<std::ptrdiff_t>(j));
            if (fixed == expected) {
                at = static_cast<unsigned>(j + 1);
                return "an extra frame (" + Byte(seen[j]) + ") before byte " + std::to_string(j + 1);
            }
        }
    }
    return {};
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

Checker::Checker(const Expectation& expectation, const CaptureInfo& info)
    : expect_(expectation), secondsPerTick_(info.secondsPerTick) {
    report_.expectedBitNs = expect_.BitSeconds() * 1e9;
}

void Checker::Note(double seconds, unsigned message, unsigned byte, const std::string& what, Mismatch& into) {
    if (into.what.empty()) {
        into = Mismatch{seconds, message, byte, what};
    }
}

void Checker::Add(const WireFrame& frame) {
    // The clock mode is judged over every whole word, those left out at the
    // capture's edges too.
    if (frame.complete) {
        // A word the capture began inside of shows no idle level.
        if (!(frame.periodCutAtStart && frame.firstInPeriod)) {
            ++framesSeen_;
            idleHighFrames_ += frame.clockIdleHigh ? 1 : 0;
        }
        // Where the data changes between edges says the phase; where it
        // changes only on edges' own samples, it hints at it.
        if (frame.dataChangesAtRise + frame.dataChangesAtFall != 0) {
            ++phaseFrames_;
            otherPhaseFrames_ += frame.dataChangesAtRise > frame.dataChangesAtFall ? 1 : 0;
        } else if (frame.dataChangesOnRise + frame.dataChangesOnFall != 0) {
            ++phaseHintFrames_;
            framesChangingOnRise_ += frame.dataChangesOnRise > frame.dataChangesOnFall ? 1 : 0;
        }
    }
    if (!group_.empty()) {
        const double bit = std::max(Seconds(1) * group_.back().BitTicks(), expect_.BitSeconds());
        if (Seconds(frame.startTick - group_.back().endTick) > kMessageGapBits * bit) {
            CloseGroup(false);
        }
    }
    if (group_.size() < 4 * expect_.message.size()) {
        group_.push_back(frame);
    }
}

void Checker::CloseGroup(bool last) {
    if (group_.empty()) {
        return;
    }
    std::vector<WireFrame> frames;
    frames.swap(group_);
    const std::size_t n = expect_.message.size();
    const std::vector<std::uint8_t> seen = Bytes(frames, false, false, expect_.bits);
    // A capture may begin or end inside a message: a first group whose
    // select was already active, or a short one that is the message's tail,
    // and a short last one that is its head, are left out.
    if (groups_++ == 0 &&
        (frames.front().periodCutAtStart ||
         (seen.size() < n && std::equal(seen.begin(), seen.end(),
                                        expect_.message.end() - static_cast<std::ptrdiff_t>(seen.size()))))) {
        ++report_.partialMessagesAtStart;
        report_.partialFramesAtStart +=
            frames.front().periodCutAtStart ? static_cast<unsigned>(frames.size()) : 0;
        return;
    }
    if (last && seen.size() < n && std::equal(seen.begin(), seen.end(), expect_.message.begin())) {
        ++report_.partialMessagesAtEnd;
        return;
    }
    CheckMessage(frames);
}

void Checker::CheckMessage(const std::vector<WireFrame>& frames) {
    const unsigned message = ++report_.messages;
    const double start = Seconds(frames.front().startTick);
    report_.frames += frames.size();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const WireFrame& f = frames[i];
        const auto byte = static_cast<unsigned>(i + 1);
        dataAtRise_ += f.dataChangesAtRise;
        dataAtFall_ += f.dataChangesAtFall;
        if (!f.complete) {
            Note(Seconds(f.startTick), message, byte,
                 f.firstInPeriod ? "the frame has " + std::to_string(f.rises) + " clock pulses, not " +
                                       std::to_string(expect_.bits)
                                 : "the select period ends " + std::to_string(f.rises) +
                                       " clock pulses into a word of " + std::to_string(expect_.bits),
                 badBitCount_);
        }
        if (f.BitTicks() > 0) {
            const double ns = f.BitTicks() * secondsPerTick_ * 1e9;
            if (std::fabs(ns / report_.expectedBitNs - 1) > expect_.bitTolerance) {
                Note(Seconds(f.startTick), message, byte, "bit time", badBitTime_);
            }
            report_.bitNsMin = bitCount_ == 0 ? ns : std::min(report_.bitNsMin, ns);
            report_.bitNsMax = bitCount_ == 0 ? ns : std::max(report_.bitNsMax, ns);
            bitSum_ += ns;
            ++bitCount_;
        }
    }
    const std::vector<std::uint8_t> seen = Bytes(frames, false, false, expect_.bits);
    if (seen != expect_.message) {
        ++wrongMessages_;
        rightLsbFirst_ += Bytes(frames, false, true, expect_.bits) == expect_.message ? 1 : 0;
        rightOtherPhase_ += Bytes(frames, true, false, expect_.bits) == expect_.message ? 1 : 0;
        rightBoth_ += Bytes(frames, true, true, expect_.bits) == expect_.message ? 1 : 0;
        unsigned at = 0;
        std::string cause = FrameCountCause(seen, expect_.message, at);
        if (cause.empty() && seen.size() != expect_.message.size()) {
            cause = std::to_string(seen.size()) + " frames, not " + std::to_string(expect_.message.size());
        }
        if (cause.empty()) {
            for (std::size_t j = 0; j < seen.size() && cause.empty(); ++j) {
                if (seen[j] != expect_.message[j]) {
                    at = static_cast<unsigned>(j + 1);
                    const unsigned differ = seen[j] ^ expect_.message[j];
                    std::string bits;
                    for (int b = 7; b >= 0; --b) {
                        bits += (differ >> b & 1u) != 0 ? (bits.empty() ? "" : ", ") + std::to_string(b) : "";
                    }
                    cause = "expected " + Byte(expect_.message[j]) + ", seen " + Byte(seen[j]) + " (bit" +
                            (bits.find(',') != std::string::npos ? "s " : " ") + bits + " differ" +
                            (bits.find(',') != std::string::npos ? "" : "s") + ")";
                }
            }
        }
        const double when = at != 0 && at <= frames.size() ? Seconds(frames[at - 1].startTick) : start;
        if (badBytes_.what.empty()) {
            badBytesMessageStart_ = start;
        }
        Note(when, message, at, cause, badBytes_);
    }
    if (havePreviousStart_) {
        const double interval = start - Seconds(previousStart_);
        const double ms = interval * 1e3;
        report_.intervalMsMin = report_.intervals == 0 ? ms : std::min(report_.intervalMsMin, ms);
        report_.intervalMsMax = report_.intervals == 0 ? ms : std::max(report_.intervalMsMax, ms);
        intervalSum_ += ms;
        ++report_.intervals;
        if (std::fabs(interval - expect_.intervalSeconds) > expect_.intervalTolerance) {
            char what[1024];  // room for any finite interval
            std::snprintf(what, sizeof what,
                          "message interval %.3f ms since message %u, expected %.0f ms +/- %.0f ms", ms,
                          message - 1, expect_.intervalSeconds * 1e3, expect_.intervalTolerance * 1e3);
            Note(start, message, 0, what, badInterval_);
        }
    }
    havePreviousStart_ = true;
    previousStart_ = frames.front().startTick;
}

Report Checker::Finish(const LineActivity& lines) {
    CloseGroup(true);
    Report& r = report_;
    r.partialFramesAtStart += lines.partialAtStart;
    r.partialFramesAtEnd = lines.partialAtEnd;
    r.wordsAlone = lines.wordsAlone;
    r.wordsShared = lines.wordsShared;
    r.partialWords = lines.partialWords;
    r.bitsChangedOnEdgeSample = lines.bitsChangedOnEdgeSample;
    r.bitNs = bitCount_ != 0 ? bitSum_ / static_cast<double>(bitCount_) : 0;
    r.intervalMs = r.intervals != 0 ? intervalSum_ / r.intervals : 0;
    auto fail = [&](const Mismatch& m) {
        r.mismatch = m;
        return r;
    };
    const auto clock = static_cast<int>(Line::Sclk), frame = static_cast<int>(Line::Sfrm),
               data = static_cast<int>(Line::Txd);
    if (lines.changes[clock] + lines.changes[frame] + lines.changes[data] == 0) {
        return fail(
            {0, 0, 0, "no activity on sclk, sfrm or txd: the port sent nothing, or its pins are not these"});
    }
    // Most of the clock running while the select is inactive: its active
    // level is the other one.
    if (lines.changes[frame] != 0 && lines.clockRises >= expect_.bits &&
        lines.risesWhileActive * 2 < lines.clockRises) {
        return fail({0, 0, 0,
                     std::to_string(lines.clockRises - lines.risesWhileActive) + " of " +
                         std::to_string(lines.clockRises) +
                         " rising clock edges come while the frame line is " +
                         (expect_.selectActiveHigh ? "low" : "high") + ": a select that is active " +
                         (expect_.selectActiveHigh ? "low" : "high") + " (--select-active " +
                         (expect_.selectActiveHigh ? "low" : "high") + "), or not the frame line (--sfrm)?"});
    }
    if (!lines.selectWentActive) {
        return fail({0, 0, 0,
                     "sclk or txd change but the frame line never goes " +
                         std::string(expect_.selectActiveHigh ? "high" : "low") +
                         ": is sfrm routed to the port, and is it the signal named here (--sfrm)?"});
    }
    // The clock mode, over all whole words: the clock's idle level, and the
    // edge the data changes on.
    // A cause needs three in four of the frames that show it.
    const bool changesAtRise = otherPhaseFrames_ * 4 >= phaseFrames_ * 3 && otherPhaseFrames_ != 0;
    // Changes seen only on the edges' own samples are a hint, outweighed by
    // messages that read right.
    const bool changesOnRise =
        !changesAtRise && otherPhaseFrames_ == 0 && (r.messages == 0 || wrongMessages_ != 0) &&
        framesChangingOnRise_ * 4 >= phaseHintFrames_ * 3 && framesChangingOnRise_ != 0;
    const std::string onRise =
        changesAtRise
            ? "the data changes on the rising clock edge in " + Count(otherPhaseFrames_, phaseFrames_)
        : changesOnRise ? "the data changes on the sample of the rising clock edge in " +
                              Count(framesChangingOnRise_, phaseHintFrames_)
                        : "";
    if (idleHighFrames_ * 4 >= framesSeen_ * 3 && idleHighFrames_ != 0) {
        return fail({0, 0, 0,
                     "the clock idles high in " + Count(idleHighFrames_, framesSeen_) +
                         " frames: the other clock polarity (CPOL 1; the data changes on its " +
                         (changesAtRise || changesOnRise ? "rising edge: SPI mode 2)"
                                                         : "falling edge: SPI mode 3)")});
    }
    if (changesAtRise || changesOnRise) {
        const bool confirmed =
            wrongMessages_ != 0 && (rightOtherPhase_ == wrongMessages_ || rightBoth_ == wrongMessages_);
        return fail({0, 0, 0,
                     onRise + " frames" + (confirmed ? " and is right only sampled on the falling one" : "") +
                         ": the other clock phase (CPHA 1, SPI mode 1)" +
                         (confirmed && rightOtherPhase_ != wrongMessages_ ? ", and LSB first" : "") +
                         (changesOnRise ? ", or sample faster to tell" : "")});
    }
    // Most select periods ending inside a word: the words are another width.
    std::uint64_t periods = 0, commonRises = 0;
    for (unsigned n = 0; n <= LineActivity::kTrackedRises; ++n) {
        periods += lines.periodsByRises[n];
        commonRises = lines.periodsByRises[n] > lines.periodsByRises[commonRises] ? n : commonRises;
    }
    if (lines.partialWords * 2 > periods && commonRises != 0 && commonRises < LineActivity::kTrackedRises) {
        return fail({0, 0, 0,
                     Count(lines.partialWords, periods) + " select periods end inside a word of " +
                         std::to_string(expect_.bits) + " bits; most hold " + std::to_string(commonRises) +
                         " clock pulses: " + std::to_string(commonRises) + "-bit words? (--bits " +
                         std::to_string(commonRises) + ")"});
    }
    if (r.messages == 0) {
        std::string saw = std::to_string(lines.clockRises) + " rising clock edges, " +
                          std::to_string(lines.wordsAlone + lines.wordsShared) + " whole words of " +
                          std::to_string(expect_.bits) + " bits";
        return fail(
            {0, 0, 0,
             r.partialMessagesAtStart + r.partialMessagesAtEnd != 0
                 ? "no complete message: the capture holds only part of one (" + saw + ")"
                 : "no complete word of " + std::to_string(expect_.bits) + " clock pulses (" + saw + ")"});
    }
    const double ratio = r.bitNs / r.expectedBitNs;
    if (bitCount_ != 0 && std::fabs(ratio - 1) > expect_.bitTolerance) {
        char what[1024];  // room for any finite bit time
        const double factor = ratio >= 1 ? ratio : 1 / ratio;
        const double whole = std::round(factor);
        if (factor > kMaxFactor) {
            std::snprintf(what, sizeof what,
                          "bit time %.1f ns is %s the expected %.1f ns: is the capture's time "
                          "unit right, and the port clock (--port-clock-hz)?",
                          r.bitNs, ratio >= 1 ? "over a million times" : "under a millionth of",
                          r.expectedBitNs);
        } else if (whole >= 2 && std::fabs(factor - whole) < 0.02 * whole) {
            const std::string times = std::to_string(static_cast<long>(whole));
            std::snprintf(what, sizeof what, "bit time %.1f ns is %s the expected %.1f ns: %s", r.bitNs,
                          (ratio >= 1 ? times + " times" : "1/" + times + " of").c_str(), r.expectedBitNs,
                          "a port clock or clock-rate setting off by that factor (--port-clock-hz)");
        } else {
            std::snprintf(what, sizeof what, "bit time %.1f ns is %.1f%% %s than the expected %.1f ns",
                          r.bitNs, std::fabs(ratio - 1) * 100, ratio > 1 ? "longer" : "shorter",
                          r.expectedBitNs);
        }
        Mismatch m = badBitTime_;
        m.what = what;
        if (m.message == 0) {
            m = {0, 1, 0, what};
        }
        return fail(m);
    }
    if (!badBitCount_.what.empty()) {
        return fail(badBitCount_);
    }
    if (!badBytes_.what.empty()) {
        // Where the data changes tells the phase; then the bit order.
        Mismatch m = badBytes_;
        const bool otherPhase = dataAtRise_ > dataAtFall_;
        const unsigned right = otherPhase ? rightOtherPhase_ : rightLsbFirst_;
        if (otherPhase && (rightOtherPhase_ == wrongMessages_ || rightBoth_ == wrongMessages_)) {
            m = {badBytesMessageStart_, m.message, 0,
                 std::string(
                     "the data changes on the rising clock edge and is right only sampled on the falling "
                     "one: the other clock phase (CPHA 1)") +
                     (rightOtherPhase_ != wrongMessages_ ? ", and LSB first" : "")};
        } else if (!otherPhase && right == wrongMessages_) {
            m = {badBytesMessageStart_, m.message, 0,
                 "bits in reverse order: the bytes read right LSB first"};
        } else if (otherPhase) {
            m.what += "; the data changes on the rising clock edge (the other clock phase?)";
        }
        return fail(m);
    }
    if (!badInterval_.what.empty()) {
        return fail(badInterval_);
    }
    r.match = true;
    return r;
}

}  // namespace check
