#include "tools/varkel-check/capture/capture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "common/escape.h"

namespace varkel_check {

bool SameName(std::string_view name, std::string_view wanted) {
    return name.size() == wanted.size() &&
           std::equal(name.begin(), name.end(), wanted.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

namespace {

constexpr const char* kOption[kLines] = {"--sclk", "--sfrm", "--txd"};
constexpr std::size_t kListed = 12;    // names listed in an error
constexpr std::size_t kKeptFits = 64;  // signals a name fits, beyond which it is ambiguous anyway
constexpr std::size_t kShown = 64;

// Whether `wanted` is `name`, or its end after a scope separator.
bool Fits(std::string_view name, std::string_view wanted, bool sameCase) {
    if (wanted.size() > name.size()) {
        return false;
    }
    const std::string_view end = name.substr(name.size() - wanted.size());
    const bool whole = end.size() == name.size() || name[name.size() - wanted.size() - 1] == '.';
    return whole && (sameCase ? end == wanted : SameName(end, wanted));
}

}  // namespace

SignalPicker::SignalPicker(const LineNames& names) : wanted_{names.sclk, names.sfrm, names.txd} {}

void SignalPicker::Offer(std::string_view name, std::string_view id, std::string_view width) {
    if (offered_++ < kListed) {
        seen_ += (seen_.empty() ? "" : ", ") + common::Escaped(name, kShown);
    } else if (offered_ == kListed + 1) {
        seen_ += ", ...";
    }
    for (int i = 0; i < kLines; ++i) {
        if (Fits(name, wanted_[i], false) && fits_[i].size() < kKeptFits) {
            fits_[i].push_back(
                {std::string(name), std::string(id), std::string(width), Fits(name, wanted_[i], true)});
        }
    }
}

bool SignalPicker::Pick(const std::string& path, std::string (&ids)[kLines], std::string& error) const {
    const std::string shownPath = common::Escaped(path, common::kShownPath);
    for (int i = 0; i < kLines; ++i) {
        const std::vector<Fit>& fits = fits_[i];
        if (fits.empty()) {
            error = "no signal named " + common::Escaped(wanted_[i], kShown) + " in " + shownPath +
                    " (it has: " + (seen_.empty() ? "none" : seen_) + "); name it with " + kOption[i];
            return false;
        }
        // One signal may be declared under several names (a dump's scopes):
        // it is still one. Several signals are narrowed to those of the
        // same case.
        auto distinct = [&](bool sameCaseOnly) {
            std::vector<const Fit*> out;
            for (const Fit& f : fits) {
                if ((!sameCaseOnly || f.sameCase) &&
                    std::none_of(out.begin(), out.end(), [&](const Fit* o) { return o->id == f.id; })) {
                    out.push_back(&f);
                }
            }
            return out;
        };
        std::vector<const Fit*> chosen = distinct(false);
        if (chosen.size() > 1) {
            chosen = distinct(true);
        }
        if (chosen.size() != 1) {
            const std::vector<const Fit*> all = distinct(false);
            std::string names;
            for (std::size_t k = 0; k < all.size() && k < kListed; ++k) {
                names += (k == 0 ? "" : ", ") + common::Escaped(all[k]->name, kShown);
            }
            error = common::Escaped(wanted_[i], kShown) + " names " +
                    (fits.size() >= kKeptFits ? "many" : std::to_string(all.size())) + " signals in " +
                    shownPath + " (" + names + (all.size() > kListed ? ", ..." : "") +
                    "): give one's full name with " + kOption[i];
            return false;
        }
        if (chosen.front()->width != "1") {
            error = "signal " + common::Escaped(chosen.front()->name, kShown) + " in " + shownPath + " is " +
                    common::Escaped(chosen.front()->width, kShown) + " bits wide, not one wire";
            return false;
        }
        ids[i] = chosen.front()->id;
    }
    for (int i = 0; i < kLines; ++i) {
        for (int j = i + 1; j < kLines; ++j) {
            if (ids[i] == ids[j]) {
                error = std::string(kOption[i]) + " and " + kOption[j] + " name one signal in " + shownPath +
                        ": each line needs its own";
                return false;
            }
        }
    }
    return true;
}

bool ReadCapture(int fd, const std::string& path, const LineNames& names, CaptureSink& sink,
                 CaptureInfo& info, const Progress& progress, std::string& error) {
    // Only a file can be a session: its archive is read from the end.
    // Anything else (a pipe) is read once, from the start, as a dump.
    struct stat st {};
    char head[4] = {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::pread(fd, head, sizeof head, 0) == 4 &&
        std::memcmp(head, "PK\x03\x04", 4) == 0) {
        return ReadSigrokSession(fd, path, names, sink, info, progress, error);
    }
    return ReadVcd(fd, path, names, sink, info, progress, error);
}

}  // namespace varkel_check
