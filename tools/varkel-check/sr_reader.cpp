// A sigrok session file: a zip archive holding a metadata text, a version
// and the logic samples in numbered chunks. Nothing it claims is believed
// until it is checked: the channels against the sample width, the sample
// rate against what an analyser can do, the chunks against the archive,
// and every entry against its checksum.
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <string>
#include <string_view>

#include "platform/escape.h"
#include "tools/varkel-check/capture.h"
#include "tools/varkel-check/logic_stream.h"
#include "tools/varkel-check/zip_archive.h"

namespace check {
namespace {

constexpr std::uint64_t kMaxMetadataBytes = 1 << 20;
constexpr unsigned kMaxUnitBytes = LogicStream::kMaxUnitBytes;  // 64 channels
constexpr double kMaxSampleRate = 100e9;
constexpr std::uint64_t kProgressBytes = 16 << 20;
constexpr std::size_t kShown = 64;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

bool Whole(std::string_view text, std::uint64_t& value) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc{} && ptr == text.data() + text.size();
}

// "400 kHz", "12 MHz", "1.5 GHz", "8000000": samples a second, or 0.
std::uint64_t SampleRate(std::string_view text) {
    std::size_t digits = 0;
    while (digits < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[digits])) != 0 || text[digits] == '.')) {
        ++digits;
    }
    double number = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + digits, number);
    if (digits == 0 || ec != std::errc{} || ptr != text.data() + digits) {
        return 0;
    }
    std::string_view unit = Trim(text.substr(digits));
    double scale = 1;
    if (!unit.empty() && (unit[0] == 'k' || unit[0] == 'K' || unit[0] == 'm' || unit[0] == 'M' ||
                          unit[0] == 'g' || unit[0] == 'G')) {
        scale = unit[0] == 'k' || unit[0] == 'K' ? 1e3 : unit[0] == 'm' || unit[0] == 'M' ? 1e6 : 1e9;
        unit.remove_prefix(1);
    }
    if (!unit.empty() && !SameName(unit, "hz")) {
        return 0;
    }
    const double rate = number * scale;
    if (!std::isfinite(rate) || rate < 1 || rate > kMaxSampleRate || rate != std::floor(rate)) {
        return 0;
    }
    return static_cast<std::uint64_t>(rate);
}

struct Metadata {
    std::string captureFile;
    std::uint64_t channels = 0;  // "total probes"
    std::uint64_t unitBytes = 0;
    std::uint64_t sampleRate = 0;
    std::string sampleRateText;
    int bit[kLines] = {-1, -1, -1};
    std::string seen;  // the first channels' names, for a helpful error
    std::size_t named = 0;
};

// Reads the first device of the metadata text; false with `error`.
bool ParseMetadata(std::string_view text, const LineNames& names, Metadata& m, std::string& error) {
    const std::string wanted[kLines] = {names.sclk, names.sfrm, names.txd};
    bool inDevice = false, deviceDone = false;
    std::map<std::uint64_t, std::string> probes;  // bounded below by the channel count
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
        std::uint64_t n = 0;
        if (key == "capturefile") {
            m.captureFile = value;
        } else if (key == "total probes") {
            channelText = value;
        } else if (key == "unitsize") {
            unitText = value;
        } else if (key == "samplerate") {
            m.sampleRateText = platform::Escaped(value, kShown);
            m.sampleRate = SampleRate(value);
            if (m.sampleRate == 0) {
                error =
                    "damaged: its sample rate '" + m.sampleRateText + "' is not one an analyser samples at";
                return false;
            }
        } else if (key.rfind("probe", 0) == 0 && Whole(key.substr(5), n) && n > 0) {
            if (probes.size() <= kMaxUnitBytes * 8 && probes.count(n) == 0) {
                probes.emplace(n, value);
            } else if (probes.count(n) == 0) {
                error = "damaged: it names more channels than a sample can hold";
                return false;
            }
        }
    }
    if (m.captureFile.empty()) {
        error = "damaged: its metadata names no capture file";
        return false;
    }
    if (!Whole(channelText, m.channels) || m.channels == 0 || m.channels > kMaxUnitBytes * 8) {
        error = "damaged: its channel count '" + platform::Escaped(channelText, kShown) + "' is not 1 to 64";
        return false;
    }
    if (unitText.empty()) {
        m.unitBytes = (m.channels + 7) / 8;
    } else if (!Whole(unitText, m.unitBytes) || m.unitBytes == 0 || m.unitBytes > kMaxUnitBytes) {
        error = "damaged: its sample size '" + platform::Escaped(unitText, kShown) + "' is not 1 to 8 bytes";
        return false;
    }
    if (m.channels > m.unitBytes * 8) {
        error = "damaged: it claims " + std::to_string(m.channels) + " channels in samples of " +
                std::to_string(m.unitBytes) + " bytes";
        return false;
    }
    if (m.sampleRate == 0) {
        error = "damaged: its metadata gives no sample rate";
        return false;
    }
    for (const auto& [number, name] : probes) {
        if (number > m.channels) {
            error = "damaged: it names channel " + std::to_string(number) + " (" +
                    platform::Escaped(name, kShown) + ") of a capture with " + std::to_string(m.channels);
            return false;
        }
        if (m.named++ < 12) {
            m.seen += (m.seen.empty() ? "" : ", ") + platform::Escaped(name, kShown);
        }
        for (int i = 0; i < kLines; ++i) {
            if (m.bit[i] < 0 && SameName(name, wanted[i])) {
                m.bit[i] = static_cast<int>(number - 1);
            }
        }
    }
    if (m.named > 12) {
        m.seen += ", ...";
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
            error = "damaged: it holds " + platform::Escaped(e.name, kShown) + " twice";
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
            "damaged: it holds both " + platform::Escaped(captureFile, kShown) + " and numbered chunks of it";
        return false;
    }
    if (single != nullptr) {
        chunks.push_back(single);
    }
    std::uint64_t expected = 1;
    for (const auto& [n, e] : numbered) {
        if (n != expected) {
            error = "damaged: " + platform::Escaped(captureFile, kShown) + "-" + std::to_string(expected) +
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
        error = "damaged: " + platform::Escaped(e.name, kShown) + " claims " + std::to_string(e.size) +
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
    const std::string shown = platform::Escaped(path);
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
        return fail("a sigrok session of version '" + platform::Escaped(v, kShown) +
                    "', which this tool does not read");
    }
    Metadata m;
    if (!ParseMetadata(metadataText, names, m, why)) {
        return fail(why);
    }
    const std::string wanted[kLines] = {names.sclk, names.sfrm, names.txd};
    for (int i = 0; i < kLines; ++i) {
        if (m.bit[i] < 0) {
            error = MissingSignal(static_cast<Line>(i), wanted[i], path, m.seen);
            return false;
        }
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
            return fail("damaged: " + platform::Escaped(chunk->name, kShown) + " holds " +
                        std::to_string(chunk->size) + " bytes, not whole samples of " +
                        std::to_string(m.unitBytes));
        }
    }

    info.format = "sigrok session";  // known before the first level: frames are timed from it
    info.secondsPerTick = 1.0 / static_cast<double>(m.sampleRate);
    info.resolution = std::to_string(m.sampleRate) + " samples a second";
    info.startTick = 0;
    LogicStream samples(m.unitBytes, m.bit, sink);
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

}  // namespace check
