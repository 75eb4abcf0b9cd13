#include "tools/varkel-check/cli/report.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

#include "common/escape.h"
#include "common/json.h"
#include "common/wire_line.h"

namespace varkel_check {
namespace {

// Any finite double fits: the longest, 1.8e308 with nine decimals, is
// under 330 characters.
std::string Fixed(double value, int decimals) {
    char text[400];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// How the capture framed its words.
std::string FramingText(const Report& r) {
    std::string text =
        r.wordsShared == 0  ? Grouped(r.wordsAlone) + " words, each in a select period of its own"
        : r.wordsAlone == 0 ? Grouped(r.wordsShared) + " words in select periods held across several"
                            : Grouped(r.wordsAlone) + " words in a select period of their own, " +
                                  Grouped(r.wordsShared) + " in periods held across several";
    if (r.partialWords != 0) {
        text += "; " + Grouped(r.partialWords) + " select periods ended inside a word";
    }
    return text;
}

}  // namespace

std::string FrameLine(std::uint64_t startNs, std::uint32_t value, unsigned bits) {
    char line[64];
    return std::string(line, common::FormatWireLine(startNs, value, bits, line));
}

std::string VerdictLine(const Report& r) {
    if (r.match) {
        return "varkel-check: match: " + std::to_string(r.messages) + " messages (" +
               std::to_string(r.frames) + " frames), bit time " + Fixed(r.bitNs, 1) + " ns (expected " +
               Fixed(r.expectedBitNs, 1) + " ns), message interval " +
               (r.intervals != 0 ? Fixed(r.intervalMs, 3) + " ms" : "n/a (one message)");
    }
    const Mismatch& m = r.mismatch;
    if (m.message == 0) {
        return "varkel-check: mismatch: " + m.what;  // about the whole capture
    }
    std::string where =
        "varkel-check: mismatch at " + Fixed(m.seconds, 6) + " s, message " + std::to_string(m.message);
    if (m.byte != 0) {
        where += ", byte " + std::to_string(m.byte);
    }
    return where + ": " + m.what;
}

std::string Details(const Outcome& outcome, const CheckRequest& request) {
    const Report& r = outcome.report;
    const CaptureInfo& info = outcome.info;
    const Expectation& e = request.expect;
    std::ostringstream text;
    text << "  capture: " << common::Escaped(request.path, common::kShownPath) << " (" << info.format << ", "
         << common::Escaped(info.resolution, 64) << "), "
         << Fixed(static_cast<double>(info.startTick) * info.secondsPerTick, 6) << " s to "
         << Fixed(static_cast<double>(info.endTick) * info.secondsPerTick, 6) << " s\n"
         << "  frames: " << r.frames << " in complete messages"
         << (r.framesCut != 0 ? " (and " + Grouped(r.framesCut) + " a select period ended inside)" : "")
         << "; partial frames left out: " << r.partialFramesAtStart << " at the start, "
         << r.partialFramesAtEnd << " at the end\n"
         << "  messages: " << r.messages
         << " complete; partial messages left out: " << r.partialMessagesAtStart << " at the start, "
         << r.partialMessagesAtEnd << " at the end\n"
         << "  bit time: "
         << (r.bitTimed ? Fixed(r.bitNs, 1) + " ns mean (" + Fixed(r.bitNsMin, 1) + " to " +
                              Fixed(r.bitNsMax, 1) + ")"
                        : std::string("n/a (no word in a complete message with two rising edges)"))
         << ", expected " << Fixed(r.expectedBitNs, 1) << " ns +/- " << Fixed(e.bitTolerance * 100, 1)
         << "% (clock rate " << e.clockRate << ", port clock " << Fixed(e.portClockHz, 0) << " Hz)\n"
         << "  framing: " << FramingText(r) << "\n"
         << "  message interval: ";
    if (r.intervals != 0) {
        text << Fixed(r.intervalMs, 3) << " ms mean (" << Fixed(r.intervalMsMin, 3) << " to "
             << Fixed(r.intervalMsMax, 3) << "), expected " << Fixed(e.intervalSeconds * 1e3, 0) << " +/- "
             << Fixed(e.intervalTolerance * 1e3, 1) << " ms\n";
    } else {
        text << "n/a (fewer than two messages)\n";
    }
    for (std::size_t i = 1; i < r.causes.size(); ++i) {
        text << "  also: " << r.causes[i].what << "\n";
    }
    if (r.bitsChangedOnEdgeSample != 0) {
        text << "  warning: sample faster: " << Grouped(r.bitsChangedOnEdgeSample)
             << " bits changed on the sample of their clock edge, and were read as changed\n";
    }
    if (r.selectOpenedOnEdge + r.selectClosedOnEdge != 0) {
        text << "  warning: sample faster: " << Grouped(r.selectOpenedOnEdge) << " select periods opened and "
             << Grouped(r.selectClosedOnEdge)
             << " closed on the sample of a clock edge, read as sigrok reads them (a rising edge as the "
                "select opens is a bit, an edge as it closes is not; "
             << Grouped(r.wordsLostAtClose) << " words lost so)\n";
    }
    if (r.wordsWithPhase == 0 && r.wordsPhaseUnclear != 0) {
        text << "  note: the data's changes cannot show the clock phase: in " << Grouped(r.wordsPhaseUnclear)
             << " frames the data changes within a sample of a clock edge, or the clock has under "
             << kMinPhaseSamples << " samples a period (sample faster)\n";
    }
    return text.str();
}

std::string Json(const Outcome& outcome, const CheckRequest& request, const char* version) {
    const Report& r = outcome.report;
    std::ostringstream j;
    j << "{\n  \"schema_version\": 1,\n  \"tool\": \"varkel-check\",\n  \"version\": "
      << common::JsonString(version) << ",\n  \"capture\": " << common::JsonString(request.path)
      << ",\n  \"format\": " << common::JsonString(outcome.info.format) << ",\n"
      << "  \"verdict\": \"" << (r.match ? "match" : "mismatch") << "\",\n";
    auto mismatch = [&](const Mismatch& m) {
        j << "{\"seconds\": " << Fixed(m.seconds, 9) << ", \"message\": " << m.message
          << ", \"byte\": " << m.byte << ", \"what\": " << common::JsonString(m.what) << "}";
    };
    j << "  \"mismatch\": ";
    if (r.match) {
        j << "null";
    } else {
        mismatch(r.mismatch);
    }
    j << ",\n  \"causes\": [";  // the mismatch first, then the others, likeliest first
    for (std::size_t i = 0; i < r.causes.size(); ++i) {
        j << (i == 0 ? "\n    " : ",\n    ");
        mismatch(r.causes[i]);
    }
    j << (r.causes.empty() ? "],\n" : "\n  ],\n");
    j << "  \"messages\": " << r.messages << ",\n  \"frames\": " << r.frames
      << ",\n  \"frames_cut_in_messages\": " << r.framesCut << ",\n"
      << "  \"partial_frames_left_out\": " << r.partialFramesAtStart + r.partialFramesAtEnd << ",\n"
      << "  \"partial_messages_left_out\": " << r.partialMessagesAtStart + r.partialMessagesAtEnd << ",\n"
      << "  \"words_alone\": " << r.wordsAlone << ",\n  \"words_shared\": " << r.wordsShared
      << ",\n  \"partial_words\": " << r.partialWords
      << ",\n  \"bits_changed_on_edge_sample\": " << r.bitsChangedOnEdgeSample
      << ",\n  \"select_opened_on_edge\": " << r.selectOpenedOnEdge
      << ",\n  \"select_closed_on_edge\": " << r.selectClosedOnEdge
      << ",\n  \"words_lost_at_select_close\": " << r.wordsLostAtClose << ",\n"
      << "  \"bit_time_ns\": " << Fixed(r.bitNs, 3)
      << ",\n  \"expected_bit_time_ns\": " << Fixed(r.expectedBitNs, 3)
      << ",\n  \"message_interval_ms\": " << (r.intervals != 0 ? Fixed(r.intervalMs, 6) : "null") << ",\n"
      << "  \"message_interval_ms_min\": " << (r.intervals != 0 ? Fixed(r.intervalMsMin, 6) : "null") << ",\n"
      << "  \"message_interval_ms_max\": " << (r.intervals != 0 ? Fixed(r.intervalMsMax, 6) : "null")
      << "\n}\n";
    return j.str();
}

}  // namespace varkel_check
