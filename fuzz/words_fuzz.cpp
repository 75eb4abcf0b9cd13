// Drives arbitrary level changes of the three lines through the word
// decoder, the checker and the diagnosis, to the texts varkel-check prints:
// none of it may crash, and no "N of M" it says may have N over M. The
// input's first byte sets the word width and the select's active level;
// each byte after it is a step: its low three bits toggle sclk, sfrm and
// txd, its high five bits wait that many ticks first.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/varkel-check/cli/report.h"

namespace {

// A grouped count ("1,204") at `at`, moving past it; false if none is there.
bool CountAt(const std::string& text, std::size_t& at, unsigned long long& n) {
    const std::size_t from = at;
    n = 0;
    while (at < text.size() && (std::isdigit(static_cast<unsigned char>(text[at])) || text[at] == ',')) {
        n = text[at] == ',' ? n : n * 10 + static_cast<unsigned>(text[at] - '0');
        ++at;
    }
    return at > from && text[from] != ',';
}

// Every "N of M" the texts say has N at most M: a count that exceeds its
// total is a lie, whatever the input.
void CountsWithinTotals(const std::string& text) {
    for (std::size_t at = text.find(" of "); at != std::string::npos; at = text.find(" of ", at + 4)) {
        std::size_t start = at;
        while (start > 0 &&
               (std::isdigit(static_cast<unsigned char>(text[start - 1])) || text[start - 1] == ',')) {
            --start;
        }
        std::size_t end = at + 4;
        unsigned long long some = 0, all = 0;
        if (start < at && CountAt(text, start, some) && start == at && CountAt(text, end, all) &&
            some > all) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    varkel_check::CheckRequest request;
    request.path = "steps";
    request.expect.bits = 1 + data[0] % 32u;
    request.expect.selectActiveHigh = (data[0] & 0x80) != 0;
    request.expect.message = varkel_check::ProgramWords(request.expect.bits);
    varkel_check::Outcome outcome;
    outcome.info.format = "steps";
    outcome.info.secondsPerTick = 100e-9;
    std::string words;
    varkel_check::CheckPipeline pipeline(
        request.expect, [&](const varkel_check::Word& word, std::uint64_t ns) {
            words += varkel_check::FrameLine(ns, word.risingValue, request.expect.bits);
        });
    pipeline.Begin(outcome.info);
    char level[varkel_check::kLines] = {'0', '1', '0'};
    std::uint64_t tick = 0;
    for (int line = 0; line < varkel_check::kLines; ++line) {
        pipeline.Change(0, static_cast<varkel_check::Line>(line), level[line]);
    }
    for (std::size_t i = 1; i < size; ++i) {
        tick += data[i] >> 3;
        for (int line = 0; line < varkel_check::kLines; ++line) {
            if ((data[i] >> line & 1u) != 0) {
                level[line] = level[line] == '1' ? '0' : '1';
                pipeline.Change(tick, static_cast<varkel_check::Line>(line), level[line]);
            }
        }
    }
    pipeline.End(tick);
    outcome.info.endTick = tick;
    outcome.report = pipeline.Finish();
    CountsWithinTotals(varkel_check::VerdictLine(outcome.report) + varkel_check::Details(outcome, request) +
                       varkel_check::Json(outcome, request, "fuzz"));
    return 0;
}
