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

#include "platform/escape.h"
#include "tools/varkel-check/capture.h"

namespace check {
namespace {

constexpr std::size_t kChunk = 1 << 20;   // also the longest word a dump may hold
constexpr std::size_t kKeptWords = 8;     // of one header section: a $var needs four
constexpr std::size_t kListedNames = 12;  // in the error that names the signals there are
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
    std::string unit = text.substr(digits);
    unit.erase(std::remove(unit.begin(), unit.end(), ' '), unit.end());
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

}  // namespace

bool ReadVcd(int fd, const std::string& path, const LineNames& names, CaptureSink& sink, CaptureInfo& info,
             const Progress& progress, std::string& error) {
    const std::string shown = platform::Escaped(path);
    const std::string notCapture = shown + " is not a value change dump or a sigrok session file";
    Tokens tokens(fd);
    std::string_view token;
    const std::string wanted[kLines] = {names.sclk, names.sfrm, names.txd};
    std::string idOf[kLines];
    std::string seen;  // the first signals' names, for a helpful error
    std::size_t signals = 0;
    std::string timescale;
    bool sawDefinitions = false;

    // Header: up to $enddefinitions.
    while (!sawDefinitions && tokens.Next(token)) {
        if (token.empty() || token[0] != '$') {
            error = notCapture;
            return false;
        }
        const std::string keyword(token);
        std::vector<std::string> body;
        while (tokens.Next(token) && token != "$end") {
            if (body.size() < kKeptWords) {
                body.emplace_back(token);
            }
        }
        if (keyword == "$timescale") {
            timescale.clear();
            for (const std::string& part : body) {
                timescale += part;
            }
        } else if (keyword == "$var" && body.size() >= 4) {
            if (signals++ < kListedNames) {
                seen += (seen.empty() ? "" : ", ") + platform::Escaped(body[3], kShown);
            } else if (signals == kListedNames + 1) {
                seen += ", ...";
            }
            for (int i = 0; i < kLines; ++i) {
                if (idOf[i].empty() && SameName(body[3], wanted[i])) {
                    if (body[1] != "1") {
                        error = "signal " + platform::Escaped(body[3], kShown) + " in " + shown + " is " +
                                platform::Escaped(body[1], kShown) + " bits wide, not one wire";
                        return false;
                    }
                    idOf[i] = body[2];
                }
            }
        } else if (keyword == "$enddefinitions") {
            sawDefinitions = true;
        }
    }
    if (tokens.error != 0 || tokens.tooLong || !sawDefinitions) {
        error = tokens.error != 0 ? "cannot read " + shown + ": " + std::strerror(tokens.error)
                : tokens.tooLong  ? shown + ": damaged: a word of more than 1 MiB in its header"
                                  : notCapture;
        return false;
    }
    info.format = "value change dump";
    info.secondsPerTick = Timescale(timescale.empty() ? "1s" : timescale);
    if (info.secondsPerTick == 0) {
        error = shown + " has a timescale VCD does not allow: " + platform::Escaped(timescale, kShown);
        return false;
    }
    info.resolution = timescale;
    for (int i = 0; i < kLines; ++i) {
        if (idOf[i].empty()) {
            error = MissingSignal(static_cast<Line>(i), wanted[i], path, seen);
            return false;
        }
    }

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
                error = shown + " has a bad timestamp: " + platform::Escaped(token, 24);
                return false;
            }
            info.startTick = timed ? info.startTick : t;
            now = t;
            timed = true;
        } else if (c == '0' || c == '1' || c == 'x' || c == 'X' || c == 'z' || c == 'Z') {
            const std::string_view id = token.substr(1);
            const int line = id.size() == 1
                                 ? single[static_cast<unsigned char>(id[0])]
                                 : (longer.count(std::string(id)) != 0 ? longer[std::string(id)] : -1);
            if (line >= 0) {
                sink.Change(now, static_cast<Line>(line), c == '0' || c == '1' ? c : 'x');
            }
        } else if (c == 'b' || c == 'B' || c == 'r' || c == 'R') {
            tokens.Next(token);  // a vector or real value: its identifier follows
        } else if (c == '$' && token != "$end" && token != "$dumpvars" && token != "$dumpall" &&
                   token != "$dumpon" && token != "$dumpoff") {
            while (tokens.Next(token) && token != "$end") {  // a comment in the changes
            }
        }
    }
    if (tokens.error != 0 || tokens.tooLong) {
        error = tokens.error != 0 ? "cannot read " + shown + ": " + std::strerror(tokens.error)
                                  : shown + ": damaged: a word of more than 1 MiB among its changes";
        return false;
    }
    if (!timed) {
        error = shown + " holds no samples: no timestamp follows its definitions";
        return false;
    }
    info.endTick = now;
    sink.End(now);
    return true;
}

}  // namespace check
