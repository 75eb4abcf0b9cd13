#include "tests/capture_gen.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

namespace {

struct Edge {
    double t;
    int signal;  // 0 sclk, 1 sfrm, 2 txd
    char level;
};

}  // namespace

std::vector<std::vector<std::uint8_t>> ProgramMessages(int count) {
    return std::vector<std::vector<std::uint8_t>>(static_cast<std::size_t>(count),
                                                  {'Z', 'E', 'L', ' ', 'N', 'S', 'S', 'P', 0});
}

std::string MakeVcd(const WaveSpec& w) {
    std::vector<Edge> edges;
    const char idle = w.clockIdleHigh ? '1' : '0';
    const char active = w.clockIdleHigh ? '0' : '1';
    double last = 0;
    for (std::size_t m = 0; m < w.messages.size(); ++m) {
        double t0 = w.firstStartS + static_cast<double>(m) * w.intervalS;
        for (std::size_t b = 0; b < w.messages[m].size(); ++b) {
            const std::uint8_t byte = w.messages[m][b];
            const bool firstOfMessage = b == 0, lastOfMessage = b + 1 == w.messages[m].size();
            auto bit = [&](int i) { return ((byte >> (w.lsbFirst ? i : 7 - i)) & 1) != 0 ? '1' : '0'; };
            if (!w.selectHeld || firstOfMessage) {
                edges.push_back({t0, 1, '0'});
            }
            if (!w.otherPhase) {
                edges.push_back({t0, 2, bit(0)});
            }
            for (int i = 0; i < 8; ++i) {
                const double mid = t0 + (i + 0.5) * w.bitS;
                edges.push_back({mid, 0, active});
                if (w.otherPhase) {
                    edges.push_back({mid + w.dataDelayS, 2, bit(i)});
                }
                const double end = t0 + (i + 1) * w.bitS;
                edges.push_back({end, 0, idle});
                if (!w.otherPhase && i < 7) {
                    edges.push_back({end + w.dataDelayS, 2, bit(i + 1)});
                }
            }
            const double end = t0 + 8 * w.bitS;
            if (!w.selectHeld || lastOfMessage) {
                edges.push_back({end + w.selectHoldS, 1, '1'});
            }
            edges.push_back({end + w.dataDelayS, 2, '0'});  // held past the last edge, as a sender does
            t0 = end + w.idleBits * w.bitS;
            last = end;
        }
    }
    // An analyser sees each edge at its next sample; with jitter, an edge
    // wanders by up to half a sample first, so it lands a sample early or
    // late now and then.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> wander(-0.5, 0.5);
    for (Edge& e : edges) {
        if (w.samplePeriodS > 0) {
            const double t = e.t + (w.jitter ? wander(random) * w.samplePeriodS : 0);
            e.t = std::ceil(t / w.samplePeriodS) * w.samplePeriodS;
        }
    }
    if (w.frameLineStuck) {
        std::erase_if(edges, [](const Edge& e) { return e.signal == 1; });
    }
    std::stable_sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.t < b.t; });

    const double endS = w.captureEndS >= 0 ? w.captureEndS : last + 1e-3;
    auto tick = [&](double t) { return static_cast<unsigned long long>(std::llround(t / w.tickS)); };
    const char ids[] = {'!', '"', '#'};
    std::string vcd = "$timescale " + w.timescale + " $end\n$scope module " + w.scope + " $end\n";
    const std::string names[] = {w.sclk, w.sfrm, w.txd};
    for (int s = 0; s < 3; ++s) {
        vcd += "$var wire 1 " + std::string(1, ids[s]) + " " + names[s] + " $end\n";
    }
    vcd += "$upscope $end\n$enddefinitions $end\n";
    char level[3] = {idle, '1', '0'};
    std::size_t next = 0;
    for (; next < edges.size() && edges[next].t <= w.captureStartS; ++next) {
        level[edges[next].signal] = edges[next].level;
    }
    vcd += "#" + std::to_string(tick(w.captureStartS)) + "\n$dumpvars\n";
    for (int s = 0; s < 3; ++s) {
        vcd += std::string(1, level[s]) + ids[s] + "\n";
    }
    vcd += "$end\n";
    unsigned long long at = tick(w.captureStartS);
    for (; next < edges.size() && edges[next].t <= endS; ++next) {
        const Edge& e = edges[next];
        if (level[e.signal] == e.level) {
            continue;
        }
        level[e.signal] = e.level;
        if (tick(e.t) != at) {
            at = tick(e.t);
            vcd += "#" + std::to_string(at) + "\n";
        }
        vcd += std::string(1, e.level) + ids[e.signal] + "\n";
    }
    return vcd + "#" + std::to_string(tick(endS)) + "\n";
}

namespace {
void Put(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>(i < 8 ? value >> (8 * i) & 0xFF : 0);
    }
}
}  // namespace

std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& entries,
                    const std::string& spoilCrc) {
    std::string out, directory;
    for (const auto& [name, data] : entries) {
        const std::uint32_t crc =
            static_cast<std::uint32_t>(
                crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()))) ^
            (name == spoilCrc ? 1u : 0u);
        std::string common;
        Put(common, 20, 2);  // version needed
        Put(common, 0, 2);   // flags
        Put(common, 0, 2);   // stored
        Put(common, 0, 4);   // time and date
        Put(common, crc, 4);
        Put(common, data.size(), 4);
        Put(common, data.size(), 4);
        Put(common, name.size(), 2);
        Put(common, 0, 2);  // extra
        const std::size_t offset = out.size();
        Put(out, 0x04034b50, 4);
        out += common + name + data;
        Put(directory, 0x02014b50, 4);
        Put(directory, 20, 2);
        directory += common;
        Put(directory, 0, 2 + 2 + 2 + 4);  // comment, disk, attributes
        Put(directory, offset, 4);
        directory += name;
    }
    const std::size_t at = out.size();
    out += directory;
    // Over 65,535 entries, the count goes in the 64-bit end records, as
    // every zip writer puts it.
    const bool zip64 = entries.size() > 0xFFFF;
    if (zip64) {
        const std::size_t end64 = out.size();
        Put(out, 0x06064b50, 4);
        Put(out, 44, 8);     // the record's size after this field
        Put(out, 45, 2);     // version made by
        Put(out, 45, 2);     // version needed
        Put(out, 0, 4 + 4);  // disks
        Put(out, entries.size(), 8);
        Put(out, entries.size(), 8);
        Put(out, directory.size(), 8);
        Put(out, at, 8);
        Put(out, 0x07064b50, 4);  // its locator
        Put(out, 0, 4);
        Put(out, end64, 8);
        Put(out, 1, 4);
    }
    Put(out, 0x06054b50, 4);
    Put(out, 0, 4);
    Put(out, zip64 ? 0xFFFF : entries.size(), 2);
    Put(out, zip64 ? 0xFFFF : entries.size(), 2);
    Put(out, directory.size(), 4);
    Put(out, at, 4);
    Put(out, 0, 2);
    return out;
}
