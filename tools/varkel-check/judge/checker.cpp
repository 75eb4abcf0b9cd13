#include "tools/varkel-check/judge/checker.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace varkel_check {
namespace {

// Frames further apart than this many bit times start a new message.
constexpr double kMessageGapBits = 50;

using Words = std::vector<std::uint32_t>;

// A word in hex, as wide as `bits` needs; a printable byte with its character.
std::string WordText(std::uint32_t value, unsigned bits) {
    char text[24];
    const int digits = std::max(2, static_cast<int>((bits + 3) / 4));
    if (bits <= 8 && value >= 0x21 && value < 0x7F) {
        std::snprintf(text, sizeof text, "0x%02X '%c'", value, static_cast<char>(value));
    } else {
        std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    }
    return text;
}

Words Read(const std::vector<Word>& words, bool falling, bool lsbFirst, unsigned bits) {
    Words out;
    for (const Word& f : words) {
        const std::uint32_t value = falling ? f.fallingValue : f.risingValue;
        out.push_back(lsbFirst ? Reversed(value, bits) : value);
    }
    return out;
}

// What one dropped or added frame would explain, or empty.
std::string FrameCountCause(const Words& seen, const Words& expected, unsigned bits, unsigned& at) {
    for (std::size_t j = 0; j < std::max(seen.size(), expected.size()); ++j) {
        Words fixed = seen;
        if (seen.size() + 1 == expected.size()) {
            fixed.insert(fixed.begin() + static_cast<std::ptrdiff_t>(j), expected[j]);
            if (fixed == expected) {
                at = static_cast<unsigned>(j + 1);
                return "frame " + std::to_string(j + 1) + " (" + WordText(expected[j], bits) + ") is missing";
            }
        } else if (seen.size() == expected.size() + 1 && j < seen.size()) {
            fixed.erase(fixed.begin() + static_cast<std::ptrdiff_t>(j));
            if (fixed == expected) {
                at = static_cast<unsigned>(j + 1);
                return "an extra frame (" + WordText(seen[j], bits) + ") before byte " +
                       std::to_string(j + 1);
            }
        }
    }
    return {};
}

}  // namespace

std::vector<std::uint32_t> ProgramWords(unsigned bits) {
    const std::uint32_t mask = bits >= 32 ? ~0u : (1u << bits) - 1;
    std::vector<std::uint32_t> words;
    for (const std::uint8_t byte : kProgramMessage) {
        words.push_back(byte & mask);
    }
    return words;
}

Checker::Checker(const Expectation& expectation, double secondsPerTick, OnWrongMessage onWrongMessage)
    : expect_(expectation), secondsPerTick_(secondsPerTick), onWrongMessage_(std::move(onWrongMessage)) {
    report_.expectedBitNs = expect_.BitSeconds() * 1e9;
}

void Checker::Note(double seconds, unsigned message, unsigned byte, const std::string& what, Mismatch& into) {
    messageWrong_ = true;
    if (into.what.empty()) {
        into = Mismatch{seconds, message, byte, what};
    }
}

void Checker::Add(const Word& word) {
    if (!group_.empty()) {
        const double bit = std::max(Seconds(1) * group_.back().BitTicks(), expect_.BitSeconds());
        if (Seconds(word.startTick - group_.back().endTick) > kMessageGapBits * bit) {
            CloseGroup(false);
        }
    }
    if (group_.size() < 4 * expect_.message.size()) {
        group_.push_back(word);
    }
}

void Checker::CloseGroup(bool last) {
    if (group_.empty()) {
        return;
    }
    std::vector<Word> words;
    words.swap(group_);
    const std::size_t n = expect_.message.size();
    const Words seen = Read(words, false, false, expect_.bits);
    // A capture may begin or end inside a message: a first group whose
    // select was already active, unless it holds a whole message's words
    // (a capture that begins on the select's edge), or a short one that is
    // the message's tail, and a short last one that is its head, are left
    // out.
    if (groups_++ == 0 &&
        ((words.front().periodCutAtStart && seen.size() != n) ||
         (seen.size() < n && std::equal(seen.begin(), seen.end(),
                                        expect_.message.end() - static_cast<std::ptrdiff_t>(seen.size()))))) {
        ++report_.partialMessagesAtStart;
        report_.partialFramesAtStart +=
            words.front().periodCutAtStart ? static_cast<unsigned>(words.size()) : 0;
        return;
    }
    if (last && seen.size() < n && std::equal(seen.begin(), seen.end(), expect_.message.begin())) {
        ++report_.partialMessagesAtEnd;
        return;
    }
    CheckMessage(words);
}

void Checker::CheckMessage(const std::vector<Word>& words) {
    messageWrong_ = false;
    const unsigned message = ++report_.messages;
    const double start = Seconds(words.front().startTick);
    for (const Word& w : words) {
        (w.complete ? report_.frames : report_.framesCut)++;
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
        const Word& f = words[i];
        const auto byte = static_cast<unsigned>(i + 1);
        if (!f.complete) {
            Note(Seconds(f.startTick), message, byte,
                 f.firstInPeriod
                     ? "the frame has " + Counted(f.rises, "clock pulse", "clock pulses") + ", not " +
                           std::to_string(expect_.bits)
                     : "the select period ends " + Counted(f.rises, "clock pulse", "clock pulses") +
                           " into a word of " + std::to_string(expect_.bits),
                 found_.bitCount);
        }
        if (f.BitTicks() > 0) {
            const double ns = f.BitTicks() * secondsPerTick_ * 1e9;
            if (std::fabs(ns / report_.expectedBitNs - 1) > expect_.bitTolerance) {
                Note(Seconds(f.startTick), message, byte, "bit time", found_.bitTime);
            }
            report_.bitNsMin = bitCount_ == 0 ? ns : std::min(report_.bitNsMin, ns);
            report_.bitNsMax = bitCount_ == 0 ? ns : std::max(report_.bitNsMax, ns);
            bitSum_ += ns;
            ++bitCount_;
        }
    }
    const Words seen = Read(words, false, false, expect_.bits);
    if (seen != expect_.message) {
        ++found_.wrongMessages;
        found_.rightLsbFirst += Read(words, false, true, expect_.bits) == expect_.message ? 1 : 0;
        found_.rightOnFall += Read(words, true, false, expect_.bits) == expect_.message ? 1 : 0;
        found_.rightBoth += Read(words, true, true, expect_.bits) == expect_.message ? 1 : 0;
        unsigned at = 0;
        std::string cause = FrameCountCause(seen, expect_.message, expect_.bits, at);
        if (cause.empty() && seen.size() != expect_.message.size()) {
            cause = std::to_string(seen.size()) + " frames, not " + std::to_string(expect_.message.size());
        }
        if (cause.empty()) {
            for (std::size_t j = 0; j < seen.size() && cause.empty(); ++j) {
                if (seen[j] != expect_.message[j]) {
                    at = static_cast<unsigned>(j + 1);
                    const std::uint32_t differ = seen[j] ^ expect_.message[j];
                    std::string bits;
                    for (unsigned b = expect_.bits; b-- > 0;) {
                        bits += (differ >> b & 1u) != 0 ? (bits.empty() ? "" : ", ") + std::to_string(b) : "";
                    }
                    cause = "expected " + WordText(expect_.message[j], expect_.bits) + ", seen " +
                            WordText(seen[j], expect_.bits) + " (bit" +
                            (bits.find(',') != std::string::npos ? "s " : " ") + bits + " differ" +
                            (bits.find(',') != std::string::npos ? "" : "s") + ")";
                }
            }
        }
        const double when = at != 0 && at <= words.size() ? Seconds(words[at - 1].startTick) : start;
        if (found_.bytes.what.empty()) {
            found_.wrongMessageStart = start;
        }
        Note(when, message, at, cause, found_.bytes);
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
            Note(start, message, 0, what, found_.interval);
        }
    }
    havePreviousStart_ = true;
    previousStart_ = words.front().startTick;
    if (messageWrong_ && onWrongMessage_) {
        onWrongMessage_(words.front().startTick, words.back().endTick);
    }
}

Report Checker::Finish(const Framing& framing, const Evidence& lines) {
    CloseGroup(true);
    Report& r = report_;
    r.partialFramesAtStart += framing.partialAtStart;
    r.partialFramesAtEnd = framing.partialAtEnd;
    r.wordsAlone = framing.wordsAlone;
    r.wordsShared = framing.wordsShared;
    r.partialWords = framing.partialWords;
    r.bitsChangedOnEdgeSample = framing.bitsChangedOnEdgeSample;
    r.selectOpenedOnEdge = framing.selectOpenedOnEdge;
    r.selectClosedOnEdge = framing.selectClosedOnEdge;
    r.wordsLostAtClose = framing.wordsLostAtClose;
    r.wordsWithPhase = lines.wordsWithPhase;
    r.wordsPhaseUnclear = lines.wordsUnclear;
    r.bitNs = bitCount_ != 0 ? bitSum_ / static_cast<double>(bitCount_) : 0;
    r.bitTimed = bitCount_ != 0;
    r.intervalMs = r.intervals != 0 ? intervalSum_ / r.intervals : 0;

    found_.messages = r.messages;
    found_.partialMessages = r.partialMessagesAtStart + r.partialMessagesAtEnd;
    found_.bitTimed = bitCount_ != 0;
    found_.bitNs = r.bitNs;
    found_.expectedBitNs = r.expectedBitNs;
    found_.bitTolerance = expect_.bitTolerance;
    r.causes =
        Diagnose(framing, lines, found_, {expect_.bits, expect_.selectActiveHigh, expect_.message.size()});
    r.match = r.causes.empty();
    if (!r.match) {
        r.mismatch = r.causes.front();
    }
    return r;
}

}  // namespace varkel_check
