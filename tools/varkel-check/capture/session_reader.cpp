// A sigrok session file: a zip archive holding a metadata text, a version
// and the logic samples in numbered chunks. Nothing it claims is believed
// until it is checked: the channels against the sample width, the sample
// rate against what an analyser can do, the chunks against the archive,
// and every entry against its checksum.
#include <cctype>
#include <charconv>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "common/escape.h"
#include "tools/varkel-check/capture/capture.h"
#include "tools/varkel-check/capture/logic_stream.h"
#include "tools/varkel-check/capture/zip_archive.h"

namespace varkel_check {
namespace {

constexpr std::uint64_t kMaxMetadataBytes = 1 << 20;
constexpr unsigned kMaxUnitBytes = LogicStream::kMaxUnitBytes;  // 64 channels
constexpr std::uint64_t kMaxSampleRate = 100'000'000'000;       // 100 GHz
constexpr std::uint64_t kProgressBytes = 16 << 20;
constexpr std::size_t kShown = 64;

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && Blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && Blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A key file's value as its writer meant it: a backslash and s, n, t, r
// or another backslash stand for a space, a newline, a tab, a return and
// a backslash.
std::string Unescaped(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char next = i + 1 < value.size() ? value[i + 1] : '\0';
        const char* meant = value[i] != '\\' ? nullptr
                            : next == 's'    ? " "
                            : next == 'n'    ? "\n"
                            : next == 't'    ? "\t"
                            : next == 'r'    ? "\r"
                            : next == '\\'   ? "\\"
                                             : nullptr;
        if (meant != nullptr) {
            out += meant;
            ++i;
        } else {
            out += value[i];
        }
    }
    return out;
}

bool Whole(std::string_view text, std::uint64_t& value) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc{} && ptr == text.data() + text.size();
}

// "400 kHz", "8.2 MHz", "1.001 kHz", "8000000", as sigrok writes a rate:
// samples a second, read as a whole number of hertz with no rounding, or
// 0 when the text is not a rate or not a whole number of hertz.
}  // namespace

std::uint64_t SigrokSampleRate(std::string_view text) {
    std::size_t at = 0;
    std::uint64_t whole = 0, fraction = 0;
    unsigned wholeDigits = 0, fractionDigits = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0; ++at, ++wholeDigits) {
        if (whole > kMaxSampleRate / 10) {
            return 0;
        }
        whole = whole * 10 + static_cast<std::uint64_t>(text[at] - '0');
    }
    if (at < text.size() && text[at] == '.') {
        for (++at; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0; ++at) {
            if (++fractionDigits > 18) {
                return 0;
            }
            fraction = fraction * 10 + static_cast<std::uint64_t>(text[at] - '0');
        }
        if (fractionDigits == 0) {
            return 0;
        }
    }
    std::string_view unit = Trim(text.substr(at));
    unsigned exponent = 0;  // of ten
    if (!unit.empty() && std::strchr("kKmMgG", unit[0]) != nullptr) {
        exponent = unit[0] == 'k' || unit[0] == 'K' ? 3 : unit[0] == 'm' || unit[0] == 'M' ? 6 : 9;
        unit.remove_prefix(1);
    }
    if (wholeDigits == 0 || (!unit.empty() && !SameName(unit, "hz"))) {
        return 0;
    }
    // The fraction's digits beyond the unit's power of ten must be zeros:
    // "8.2 MHz" is 8,200,000 Hz, "1.0005 kHz" no whole rate.
    while (fractionDigits > exponent) {
        if (fraction % 10 != 0) {
            return 0;
        }
        fraction /= 10;
        --fractionDigits;
    }
    std::uint64_t scale = 1;
    for (unsigned i = 0; i < exponent; ++i) {
        scale *= 10;
    }
    std::uint64_t fractionScale = 1;
    for (unsigned i = fractionDigits; i < exponent; ++i) {
        fractionScale *= 10;
    }
    if (whole > kMaxSampleRate / scale) {
        return 0;
    }
    const std::uint64_t rate = whole * scale + fraction * fractionScale;
    return rate >= 1 && rate <= kMaxSampleRate ? rate : 0;
}

namespace {

struct Metadata {
    std::string captureFile;
    std::uint64_t channels = 0;  // "total probes"
    std::uint64_t unitBytes = 0;
    std::uint64_t sampleRate = 0;
    std::string sampleRateText;
    std::map<std::uint64_t, std::string> probes;  // named channels, by number from 1
};

// Reads the first device of the metadata text; false with `error`. Every
// key is given once: a second would leave which one counts to the order.
bool ParseMetadata(std::string_view text, Metadata& m, std::string& error) {
    bool inDevice = false, deviceDone = false;
    std::set<std::string_view> keys;
    std::string_view unitText, channelText;
    while (!text.empty() && !deviceDone) {
        const std::size_t newline = text.find('\n');
        const std::string_view line = Trim(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (!line.empty() && line.front() == '[') {
            deviceDone = inDevice && !m.captureFile.empty();
            inDevice = !deviceDone && line.rfind("[device ", 0) == 0;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inDevice || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = Trim(line.substr(0, equals)), value = Trim(line.substr(equals + 1));
        if (!keys.insert(key).second) {
            error = "damaged: its metadata gives " + common::Escaped(key, kShown) + " twice";
            return false;
        }
        std::uint64_t n = 0;
        if (key == "capturefile") {
            m.captureFile = value;
        } else if (key == "total probes") {
            channelText = value;
        } else if (key == "unitsize") {
            unitText = value;
        } else if (key == "samplerate") {
            m.sampleRateText = common::Escaped(value, kShown);
            m.sampleRate = SigrokSampleRate(value);
            if (m.sampleRate == 0) {
                error =
                    "damaged: its sample rate '" + m.sampleRateText + "' is not one an analyser samples at";
                return false;
            }
        } else if (key.rfind("probe", 0) == 0 && Whole(key.substr(5), n) && n > 0) {
            if (m.probes.size() >= kMaxUnitBytes * 8) {
                error = "damaged: it names more channels than a sample can hold";
                return false;
            }
            m.probes.emplace(n, Unescaped(value));
        }
    }
    if (m.captureFile.empty()) {
        error = "damaged: its metadata names no capture file";
        return false;
    }
    if (!Whole(channelText, m.channels) || m.channels == 0 || m.channels > kMaxUnitBytes * 8) {
        error = "damaged: its channel count '" + common::Escaped(channelText, kShown) + "' is not 1 to 64";
        return false;
    }
    if (unitText.empty()) {
        m.unitBytes = (m.channels + 7) / 8;
    } else if (!Whole(unitText, m.unitBytes) || m.unitBytes == 0 || m.unitBytes > kMaxUnitBytes) {
        error = "damaged: its sample size '" + common::Escaped(unitText, kShown) + "' is not 1 to 8 bytes";
        return false;
    }
    if (m.sampleRate == 0) {
        error = "damaged: its metadata gives no sample rate";
        return false;
    }
    // An older writer counts every probe its device has, even past the
    // sample's width; the channels it names must still be in the sample.
    const std::uint64_t width = m.unitBytes * 8;
    for (const auto& [number, name] : m.probes) {
        if (number > m.channels || number > width) {
            error = "damaged: it names channel " + std::to_string(number) + " (" +
                    common::Escaped(name, kShown) + ") of " +
                    (number > m.channels ? "a capture with " + std::to_string(m.channels)
                                         : "samples of " + std::to_string(m.unitBytes) + " bytes");
            return false;
        }
    }
    return true;
}

// The chunks of samples, in order: "logic-1" alone, or "logic-1-1" on.
bool FindChunks(const ZipArchive& zip, const std::string& captureFile, std::vector<const ZipEntry*>& chunks,
                std::string& error) {
    std::map<std::uint64_t, const ZipEntry*> numbered;
    const ZipEntry* single = nullptr;
    for (const ZipEntry& e : zip.entries()) {
        std::uint64_t n = 0;
        const bool isSingle = e.name == captureFile;
        const bool isChunk = e.name.size() > captureFile.size() + 1 &&
                             e.name.rfind(captureFile + "-", 0) == 0 &&
                             Whole(std::string_view(e.name).substr(captureFile.size() + 1), n) && n > 0 &&
                             n <= ZipArchive::kMaxEntries;
        if ((isSingle && single != nullptr) || (isChunk && numbered.count(n) != 0)) {
            error = "damaged: it holds " + common::Escaped(e.name, kShown) + " twice";
            return false;
        }
        if (isSingle) {
            single = &e;
        } else if (isChunk) {
            numbered.emplace(n, &e);
        }
    }
    if (single != nullptr && !numbered.empty()) {
        error =
            "damaged: it holds both " + common::Escaped(captureFile, kShown) + " and numbered chunks of it";
        return false;
    }
    if (single != nullptr) {
        chunks.push_back(single);
    }
    std::uint64_t expected = 1;
    for (const auto& [n, e] : numbered) {
        if (n != expected) {
            error = "damaged: " + common::Escaped(captureFile, kShown) + "-" + std::to_string(expected) +
                    " is missing";
            return false;
        }
        chunks.push_back(e);
        ++expected;
    }
    return true;
}

// The whole of a small entry as text, at most `limit` bytes.
bool ReadSmall(ZipArchive& zip, const ZipEntry& e, std::uint64_t limit, std::string& text,
               std::string& error) {
    if (e.size > limit) {
        error = "damaged: " + common::Escaped(e.name, kShown) + " claims " + std::to_string(e.size) +
                " bytes, more than a session's";
        return false;
    }
    return zip.Read(
        e,
        [&](std::string_view piece) {
            text.append(piece);
            return true;
        },
        error);
}

}  // namespace

bool ReadSigrokSession(int fd, const std::string& path, const LineNames& names, CaptureSink& sink,
                       CaptureInfo& info, const Progress& progress, std::string& error) {
    const std::string shown = common::Escaped(path, common::kShownPath);
    auto fail = [&](const std::string& what) {
        error = what == "interrupted" ? what : shown + ": " + what;
        return false;
    };
    ZipArchive zip;
    std::string why, metadataText, versionText;
    const ZipEntry* version = nullptr;
    const ZipEntry* metadata = nullptr;
    if (!zip.Open(fd, why)) {
        return fail(why);
    }
    version = zip.Find("version");
    metadata = zip.Find("metadata");
    if (version == nullptr || metadata == nullptr) {
        return fail("not a sigrok session: the archive has no " +
                    std::string(version == nullptr ? "version" : "metadata"));
    }
    if (!zip.Locate({version, metadata}, why) || !ReadSmall(zip, *version, 16, versionText, why) ||
        !ReadSmall(zip, *metadata, kMaxMetadataBytes, metadataText, why)) {
        return fail(why);
    }
    const std::string_view v = Trim(versionText);
    if (v != "1" && v != "2" && v != "3") {
        return fail("a sigrok session of version '" + common::Escaped(v, kShown) +
                    "', which this tool does not read");
    }
    Metadata m;
    if (!ParseMetadata(metadataText, m, why)) {
        return fail(why);
    }
    SignalPicker picker(names);
    for (const auto& [number, name] : m.probes) {
        picker.Offer(name, std::to_string(number));
    }
    std::string channelOf[kLines];
    if (!picker.Pick(path, channelOf, error)) {
        return false;
    }
    int bit[kLines];
    for (int i = 0; i < kLines; ++i) {
        bit[i] = std::stoi(channelOf[i]) - 1;
    }
    std::vector<const ZipEntry*> chunks;
    if (!FindChunks(zip, m.captureFile, chunks, why)) {
        return fail(why);
    }
    std::vector<const ZipEntry*> all = chunks;
    all.push_back(version);
    all.push_back(metadata);
    if (!zip.Locate(all, why)) {
        return fail(why);
    }
    for (const ZipEntry* chunk : chunks) {
        if (chunk->size % m.unitBytes != 0) {
            return fail("damaged: " + common::Escaped(chunk->name, kShown) + " holds " +
                        std::to_string(chunk->size) + " bytes, not whole samples of " +
                        std::to_string(m.unitBytes));
        }
    }

    info.format = "sigrok session";
    info.secondsPerTick = 1.0 / static_cast<double>(m.sampleRate);
    info.resolution = std::to_string(m.sampleRate) + " samples a second";
    info.startTick = 0;
    sink.Begin(info);
    LogicStream samples(m.unitBytes, bit, sink);
    std::uint64_t unpacked = 0, nextReport = kProgressBytes;
    bool stopped = false;
    for (const ZipEntry* chunk : chunks) {
        const bool read = zip.Read(
            *chunk,
            [&](std::string_view piece) {
                samples.Take(piece);
                unpacked += piece.size();
                if (unpacked >= nextReport) {
                    nextReport = unpacked + kProgressBytes;
                    stopped = progress && !progress(unpacked);
                }
                return !stopped;
            },
            why);
        if (stopped) {
            return fail("interrupted");
        }
        if (!read) {
            return fail(why);
        }
    }
    if (samples.count() == 0) {
        return fail("holds no samples");
    }
    info.endTick = samples.count();
    sink.End(samples.count());
    return true;
}

}  // namespace varkel_check
