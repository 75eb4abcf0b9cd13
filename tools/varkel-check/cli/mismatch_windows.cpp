#include "tools/varkel-check/cli/mismatch_windows.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "common/output_file.h"
#include "tools/varkel-check/capture/session_writer.h"

namespace varkel_check {

MismatchWindows::MismatchWindows(CaptureSink& next, std::string dir, const LineNames& names)
    : next_(next), dir_(std::move(dir)), names_(names) {
    ring_.reserve(kRing);
}

void MismatchWindows::Begin(const CaptureInfo& info) {
    secondsPerTick_ = info.secondsPerTick;
    next_.Begin(info);
}

void MismatchWindows::Change(std::uint64_t tick, Line line, char level) {
    const unsigned bit = 1u << static_cast<unsigned>(line);
    levels_ = static_cast<unsigned char>(level == '1' ? levels_ | bit : levels_ & ~bit);
    now_ = tick;
    Entry* newest = ring_.empty() ? nullptr : &ring_[(head_ + ring_.size() - 1) % ring_.size()];
    if (newest != nullptr && newest->tick == tick) {
        newest->levels = levels_;  // one entry a tick
    } else if (ring_.size() < kRing) {
        ring_.push_back({tick, levels_});
    } else {
        ring_[head_] = {tick, levels_};
        head_ = (head_ + 1) % kRing;
    }
    next_.Change(tick, line, level);
}

void MismatchWindows::End(std::uint64_t tick) {
    now_ = std::max(now_, tick);
    next_.End(tick);
}

void MismatchWindows::Save(std::uint64_t startTick, std::uint64_t endTick) {
    if (saved_ >= kMaxWindows || !error_.empty() || ring_.empty() || secondsPerTick_ <= 0) {
        ++notSaved_;
        return;
    }
    const auto margin = static_cast<std::uint64_t>(std::llround(kMarginSeconds / secondsPerTick_));
    const std::uint64_t oldest = ring_[head_].tick;
    const std::uint64_t from = std::max(oldest, startTick > margin ? startTick - margin : 0);
    const std::uint64_t to = std::min({now_, endTick + margin, from + kMaxSamples});
    if (to <= from) {  // nothing of it is left to show
        ++notSaved_;
        return;
    }
    // The samples, from the level at `from` on.
    std::string samples;
    std::size_t i = 0;
    unsigned char levels = ring_[head_].levels;
    for (; i < ring_.size() && ring_[(head_ + i) % ring_.size()].tick <= from; ++i) {
        levels = ring_[(head_ + i) % ring_.size()].levels;
    }
    for (std::uint64_t tick = from; tick < to; ++tick) {
        for (; i < ring_.size() && ring_[(head_ + i) % ring_.size()].tick <= tick; ++i) {
            levels = ring_[(head_ + i) % ring_.size()].levels;
        }
        samples += static_cast<char>(levels);
    }
    // The next name nothing is at: never over a file already there.
    char name[32];
    std::string path;
    struct stat st {};
    bool free = false;
    while (!free && nextName_ <= kLastName) {
        std::snprintf(name, sizeof name, "/mismatch-%04u.sr", nextName_++);
        path = dir_ + name;
        free = ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
    }
    if (!free) {
        error_ = "every name from mismatch-0001.sr to mismatch-" + std::to_string(kLastName) + ".sr is taken";
        ++notSaved_;
        return;
    }
    common::OutputFile file;
    std::string why;
    const auto rate = static_cast<std::uint64_t>(std::llround(1 / secondsPerTick_));
    if (!file.Plan(path, why, true) || !file.Open(why)) {
        error_ = why;
        ++notSaved_;
        return;
    }
    file.Write(SessionFile(rate, samples, names_));
    if (!file.Commit(why)) {
        error_ = why;
        ++notSaved_;
        return;
    }
    first_ = first_.empty() ? path : first_;
    ++saved_;
}

}  // namespace varkel_check
