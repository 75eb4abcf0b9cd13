#include "tools/varkel-sim/viewer_files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace varkel_sim {
namespace {

constexpr int kWindowWidth = 1400;
constexpr int kWaveWidth = 1150;             // pixels left for waves beside the signal panes
constexpr double kPixelsPerFrame = 200;      // GTKWave's zoom: 2^-zoom time units per 200 pixels
constexpr std::size_t kMarkers = 26;         // named markers A to Z
constexpr std::uint64_t kBurstGapBits = 16;  // a longer pause between frames ends a burst

// The last part of a path: what the save file, beside the dump, names it by.
std::string Name(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Label(std::uint32_t value) {
    char text[32];
    if (value >= 0x21 && value < 0x7F) {
        std::snprintf(text, sizeof text, "%c", static_cast<char>(value));
    } else {
        std::snprintf(text, sizeof text, "0x%02X", value);
    }
    return text;
}

}  // namespace

void FirstBurst::OnFrameEnd(const sim::Frame& frame, std::uint64_t endNs, sim::FrameFate fate) {
    if (fate != sim::FrameFate::OnWire || frame.startNs < startNs_ || endNs > endNs_ || closed_) {
        return;
    }
    closed_ = !frames_.empty() && frame.startNs - frames_.back().endNs() > kBurstGapBits * frame.bitNs;
    if (!closed_) {
        frames_.push_back(frame);
    }
}

std::string GtkwavePath(const std::string& vcdPath) {
    const std::size_t slash = vcdPath.rfind('/');
    const std::size_t dot = vcdPath.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? vcdPath.substr(0, dot) : vcdPath) + ".gtkw";
}

std::string GtkwaveSaveFile(const std::string& vcdPath, const std::vector<sim::Frame>& burst) {
    std::string text = "[*] varkel-sim: the serial port's pins, opened on the first message\n";
    // The dump is named relative to this file, which lies beside it: with
    // both names given so, GTKWave finds the dump from any working folder,
    // and after the folder moves. The file has no way to escape a quote or
    // a line break: a name holding one is left out rather than let it
    // write lines of its own.
    const std::string dump = Name(vcdPath), save = Name(GtkwavePath(vcdPath));
    const std::string both = dump + save;
    if (std::any_of(both.begin(), both.end(),
                    [](char c) { return c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
        text += "[*] the dump's name holds characters this file cannot name it by: gtkwave DUMP THIS-FILE\n";
    } else {
        text += "[dumpfile] \"" + dump + "\"\n[savefile] \"" + save + "\"\n";
    }
    char line[256];
    std::string markers;
    if (!burst.empty()) {
        const std::uint64_t margin = 4 * burst.front().bitNs;
        const std::uint64_t start = burst.front().startNs > margin ? burst.front().startNs - margin : 0;
        const double span = static_cast<double>(burst.back().endNs() + margin - start);
        std::snprintf(line, sizeof line, "[timestart] %llu\n", static_cast<unsigned long long>(start));
        text += line;
        const double zoom = -std::log2(span * kPixelsPerFrame / kWaveWidth);
        std::snprintf(line, sizeof line, "*%.6f -1", zoom);
        markers = line;
        for (std::size_t i = 0; i < kMarkers; ++i) {
            std::snprintf(
                line, sizeof line, " %lld",
                i < burst.size() ? static_cast<long long>(burst[i].startNs + burst[i].bitNs / 2) : -1LL);
            markers += line;
        }
        markers += "\n";
        for (std::size_t i = 0; i < burst.size() && i < kMarkers; ++i) {
            markers +=
                "[markername] " + std::string(1, static_cast<char>('A' + i)) + Label(burst[i].value) + "\n";
        }
    }
    std::snprintf(line, sizeof line, "[size] %d 420\n[pos] -1 -1\n", kWindowWidth);
    text += line + markers;
    text += "[sst_expanded] 0\n[signals_width] 120\n@28\nssp.sclk\nssp.sfrm\nssp.txd\nssp.rxd\n";
    return text;
}

}  // namespace varkel_sim
