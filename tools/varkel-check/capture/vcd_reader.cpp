// A value change dump, read as a stream: only the three lines' scalar
// changes are kept, so any size of file takes the same memory, and the
// header keeps a bounded part of what it declares, however much that is.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/escape.h"
#include "tools/varkel-check/capture/capture.h"

namespace varkel_check {
namespace {

constexpr std::size_t kChunk = 1 << 20;  // also the longest word a dump may hold
constexpr std::size_t kKeptWords = 8;    // of one header section: a $var needs four
constexpr std::size_t kShown = 64;
constexpr std::uint64_t kProgressBytes = 16 << 20;

// Splits the file into whitespace-separated tokens, a chunk at a time.
class Tokens {
  public:
    explicit Tokens(int fd) : fd_(fd), buffer_(kChunk) {}
    // The next token, or false at the end; `error` set on a read failure,
    // `tooLong` on a word longer than a chunk.
    bool Next(std::string_view& token) {
        for (;;) {
            while (pos_ < end_ && std::isspace(static_cast<unsigned char>(buffer_[pos_]))) {
                ++pos_;
            }
            std::size_t stop = pos_;
            while (stop < end_ && !std::isspace(static_cast<unsigned char>(buffer_[stop]))) {
                ++stop;
            }
            if (stop < end_ || (eof_ && stop > pos_)) {
                token = std::string_view(buffer_.data() + pos_, stop - pos_);
                pos_ = stop;
                return true;
            }
            if (eof_) {
                return false;
            }
            Refill();
        }
    }
    int error = 0;
    bool tooLong = false;
    std::uint64_t bytesRead = 0;

  private:
    void Refill() {
        const std::size_t kept = end_ - pos_;
        std::memmove(buffer_.data(), buffer_.data() + pos_, kept);
        if (kept == buffer_.size()) {
            tooLong = true;
            eof_ = true;
            pos_ = end_ = 0;
            return;
        }
        pos_ = 0;
        end_ = kept;
        ssize_t n;
        while ((n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_)) < 0 && errno == EINTR) {
        }
        if (n <= 0) {
            error = n < 0 ? errno : 0;
            eof_ = true;
        } else {
            end_ += static_cast<std::size_t>(n);
            bytesRead += static_cast<std::uint64_t>(n);
        }
    }

    int fd_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
};

// "1ns", "10 us", "100fs": seconds per tick, or 0 when not a timescale.
double Timescale(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) {
        ++digits;
    }
    const std::string number = text.substr(0, digits);
    const std::string unit = text.substr(digits);
    const double scale = number == "1" ? 1 : number == "10" ? 10 : number == "100" ? 100 : 0;
    const std::pair<const char*, double> units[] = {{"s", 1},     {"ms", 1e-3},  {"us", 1e-6},
                                                    {"ns", 1e-9}, {"ps", 1e-12}, {"fs", 1e-15}};
    for (const auto& [name, seconds] : units) {
        if (unit == name) {
            return scale * seconds;
        }
    }
    return 0;
}

// The words that open or close a section of a dump.
bool IsKeyword(std::string_view word) {
    for (const char* keyword : {"$comment", "$date", "$enddefinitions", "$scope", "$timescale", "$upscope",
                                "$var", "$version", "$dumpall", "$dumpoff", "$dumpon", "$dumpvars", "$end"}) {
        if (word == keyword) {
            return true;
        }
    }
    return false;
}

// A one-bit level as a dump writes it: Verilog's 0, 1, x, z, and VHDL's
// std_logic, whose L and H are weak 0 and 1 and whose U, W and - are
// unknown. 0 when the character is not a level.
char Level(char c) {
    switch (c) {
        case '0':
        case 'L':
        case 'l':
            return '0';
        case '1':
        case 'H':
        case 'h':
            return '1';
        case 'x':
        case 'X':
        case 'z':
        case 'Z':
        case 'U':
        case 'u':
        case 'W':
        case 'w':
        case '-':
            return 'x';
        default:
            return 0;
    }
}

// The level a vector value ("b1", "b0001", "bx") gives a one-bit signal:
// its last bit, the ones before it only zeros or the same (a value padded
// to a width). 0 when it holds more than one bit's worth.
char VectorLevel(std::string_view digits) {
    if (digits.empty()) {
        return 0;
    }
    const char last = Level(digits.back());
    for (std::size_t i = 0; i + 1 < digits.size(); ++i) {
        if (Level(digits[i]) == 0 || (digits[i] != '0' && digits[i] != digits.back())) {
            return 0;
        }
    }
    return last;
}

}  // namespace

bool ReadVcd(int fd, const std::string& path, const LineNames& names, CaptureSink& sink, CaptureInfo& info,
             const Progress& progress, std::string& error) {
    const std::string shown = common::Escaped(path, common::kShownPath);
    const std::string notCapture = shown + " is not a value change dump or a sigrok session file";
    auto damaged = [&](const std::string& what) {
        error = shown + ": damaged: " + what;
        return false;
    };
    auto unreadable = [&](const Tokens& t) {
        error = t.error != 0 ? "cannot read " + shown + ": " + std::strerror(t.error)
                             : shown + ": damaged: a word of more than 1 MiB in it";
        return false;
    };
    Tokens tokens(fd);
    std::string_view token;
    SignalPicker picker(names);
    std::vector<std::string> scopes;  // the scopes a $var is declared in, outermost first
    std::size_t scopeBytes = 0;
    std::string timescale;
    bool sawTimescale = false, sawDefinitions = false;

    // Header: sections up to $enddefinitions, each closed by its $end.
    while (!sawDefinitions && tokens.Next(token)) {
        if (token.empty() || token[0] != '$' || token == "$end") {
            error = notCapture;
            return false;
        }
        const std::string keyword(token);
        std::vector<std::string> body;
        bool closed = false;
        while (tokens.Next(token)) {
            if (token == "$end") {
                closed = true;
                break;
            }
            // A keyword inside a section means the section was never closed:
            // reading on would swallow what follows. (An identifier may be "$".)
            if (IsKeyword(token) && !(keyword == "$var" && body.size() == 2)) {
                return damaged(common::Escaped(keyword, kShown) + " is not closed before " +
                               common::Escaped(token, kShown));
            }
            if (body.size() < kKeptWords) {
                body.emplace_back(token);
            }
        }
        if (!closed) {
            if (tokens.error != 0 || tokens.tooLong) {
                return unreadable(tokens);
            }
            return damaged(common::Escaped(keyword, kShown) + " is not closed by $end");
        }
        if (keyword == "$timescale") {
            if (sawTimescale) {
                return damaged("it gives its timescale twice");
            }
            sawTimescale = true;
            for (const std::string& part : body) {
                timescale += part;
            }
            if (body.empty() || body.size() > 2 || Timescale(timescale) == 0) {
                return damaged("its timescale '" + common::Escaped(timescale, kShown) +
                               "' is not one VCD allows (1, 10 or 100 s, ms, us, ns, ps or fs)");
            }
        } else if (keyword == "$scope") {
            if (body.size() != 2) {
                return damaged("a $scope of " + std::to_string(body.size()) +
                               " words, not a type and a name");
            }
            scopeBytes += body[1].size();
            if (scopeBytes > kChunk) {
                return damaged("its scopes nest deeper than 1 MiB of names");
            }
            scopes.push_back(body[1]);
        } else if (keyword == "$upscope") {
            if (scopes.empty()) {
                return damaged("an $upscope with no scope open");
            }
            scopeBytes -= scopes.back().size();
            scopes.pop_back();
        } else if (keyword == "$var") {
            if (body.size() < 4) {
                return damaged("a $var of " + std::to_string(body.size()) +
                               " words, not a type, a width, an identifier and a name");
            }
            std::string full;
            for (const std::string& scope : scopes) {
                full += scope + ".";
            }
            picker.Offer(full + body[3], body[2], body[1]);
        } else if (keyword == "$enddefinitions") {
            sawDefinitions = true;
        }
    }
    if (tokens.error != 0 || tokens.tooLong) {
        return unreadable(tokens);
    }
    if (!sawDefinitions) {
        error = notCapture;
        return false;
    }
    std::string idOf[kLines];
    if (!picker.Pick(path, idOf, error)) {
        return false;
    }
    info.format = "value change dump";
    // No $timescale at all: the standard leaves the unit to the reader;
    // a second each, as viewers take it, and said.
    info.secondsPerTick = Timescale(sawTimescale ? timescale : "1s");
    info.resolution = sawTimescale ? timescale : "1s (no $timescale)";
    sink.Begin(info);

    // Changes. Single-character identifiers, by far the common case, are
    // looked up in a table.
    int single[256];
    std::fill(std::begin(single), std::end(single), -1);
    std::unordered_map<std::string, int> longer;
    for (int i = 0; i < kLines; ++i) {
        if (idOf[i].size() == 1) {
            single[static_cast<unsigned char>(idOf[i][0])] = i;
        } else {
            longer[idOf[i]] = i;
        }
    }
    auto lineOf = [&](std::string_view id) {
        if (id.size() == 1) {
            return single[static_cast<unsigned char>(id[0])];
        }
        const auto found = longer.find(std::string(id));
        return found == longer.end() ? -1 : found->second;
    };
    std::uint64_t now = 0;
    bool timed = false;
    std::uint64_t nextReport = kProgressBytes;
    while (tokens.Next(token)) {
        if (tokens.bytesRead >= nextReport) {
            nextReport = tokens.bytesRead + kProgressBytes;
            if (progress && !progress(tokens.bytesRead)) {
                error = "interrupted";
                return false;
            }
        }
        const char c = token[0];
        if (c == '#') {
            std::uint64_t t = 0;
            const auto [ptr, ec] = std::from_chars(token.data() + 1, token.data() + token.size(), t);
            if (ec != std::errc{} || ptr != token.data() + token.size() || (timed && t < now)) {
                error = shown + " has a bad timestamp: " + common::Escaped(token, 24);
                return false;
            }
            info.startTick = timed ? info.startTick : t;
            now = t;
            timed = true;
        } else if (const char level = Level(c); level != 0) {
            if (token.size() == 1) {
                return damaged("a change '" + common::Escaped(token, kShown) + "' names no signal");
            }
            if (const int line = lineOf(token.substr(1)); line >= 0) {
                sink.Change(now, static_cast<Line>(line), level);
            }
        } else if (c == 'b' || c == 'B' || c == 'r' || c == 'R') {
            const std::string value(token);  // the identifier follows it
            if (!tokens.Next(token)) {
                if (tokens.error != 0 || tokens.tooLong) {
                    return unreadable(tokens);
                }
                return damaged("a value '" + common::Escaped(value, kShown) + "' names no signal");
            }
            if (const int line = lineOf(token); line >= 0) {
                const char bit = c == 'b' || c == 'B' ? VectorLevel(std::string_view(value).substr(1)) : 0;
                if (bit == 0) {
                    return damaged("the one-wire signal " + common::Escaped(token, kShown) + " is given '" +
                                   common::Escaped(value, kShown) + "'");
                }
                sink.Change(now, static_cast<Line>(line), bit);
            }
        } else if (token == "$dumpvars" || token == "$dumpall" || token == "$dumpon" || token == "$dumpoff" ||
                   token == "$end") {
            // Marks around changes, which are read as any others.
        } else if (c == '$') {
            const std::string keyword(token);  // a comment, or a section this reader does not use
            bool closed = false;
            while (!closed && tokens.Next(token)) {
                closed = token == "$end";
                if (!closed && IsKeyword(token)) {
                    return damaged(common::Escaped(keyword, kShown) + " is not closed before " +
                                   common::Escaped(token, kShown));
                }
            }
            if (!closed) {
                if (tokens.error != 0 || tokens.tooLong) {
                    return unreadable(tokens);
                }
                return damaged(common::Escaped(keyword, kShown) + " is not closed by $end");
            }
        } else {
            return damaged("'" + common::Escaped(token, kShown) + "' among its changes is not a change");
        }
    }
    if (tokens.error != 0 || tokens.tooLong) {
        return unreadable(tokens);
    }
    if (!timed) {
        error = shown + " holds no samples: no timestamp follows its definitions";
        return false;
    }
    info.endTick = now;
    sink.End(now);
    return true;
}

}  // namespace varkel_check
