#include "tools/varkel-check/capture/zip_archive.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/escape.h"

namespace check {
namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50, kDirectoryHeader = 0x02014b50, kEnd = 0x06054b50,
                        kEnd64 = 0x06064b50, kEnd64Locator = 0x07064b50;
constexpr std::size_t kEndBytes = 22, kEnd64Bytes = 56, kLocatorBytes = 20, kDirectoryHeaderBytes = 46,
                      kLocalHeaderBytes = 30;
constexpr std::size_t kMaxComment = 0xFFFF;
constexpr std::uint64_t kMaxDirectoryBytes = 64u << 20;  // far beyond kMaxEntries' worth of short names
constexpr std::size_t kPiece = 256 << 10;
constexpr std::size_t kShownName = 64;

std::uint16_t U16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t U32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t U64(const unsigned char* p) {
    return U32(p) | static_cast<std::uint64_t>(U32(p + 4)) << 32;
}

std::string Damaged(const std::string& what) {
    return "damaged: " + what;
}

std::string Shown(std::string_view name) {
    return common::Escaped(name, kShownName);
}

// Replaces the 32-bit sizes and offset that a zip64 extra field stands in
// for, in the order the format gives them.
bool ApplyZip64(const unsigned char* extra, std::size_t bytes, ZipEntry& e, bool wideSize, bool widePacked,
                bool wideOffset) {
    for (std::size_t at = 0; at + 4 <= bytes;) {
        const std::uint16_t id = U16(extra + at), length = U16(extra + at + 2);
        if (at + 4 + length > bytes) {
            return false;
        }
        if (id == 0x0001) {
            const unsigned char* field = extra + at + 4;
            std::size_t used = 0;
            for (auto [wide, into] : {std::pair{wideSize, &e.size}, std::pair{widePacked, &e.packedSize},
                                      std::pair{wideOffset, &e.headerOffset}}) {
                if (wide) {
                    if (used + 8 > length) {
                        return false;
                    }
                    *into = U64(field + used);
                    used += 8;
                }
            }
            return true;
        }
        at += 4 + length;
    }
    return !(wideSize || widePacked || wideOffset);
}

}  // namespace

bool ZipArchive::ReadAt(std::uint64_t offset, void* into, std::size_t bytes) const {
    auto* out = static_cast<char*>(into);
    while (bytes > 0) {
        const ssize_t n = ::pread(fd_, out, bytes, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = 0;  // the file shrank under us
            }
            return false;
        }
        out += n;
        offset += static_cast<std::uint64_t>(n);
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ZipArchive::Open(int fd, std::string& error) {
    fd_ = fd;
    entries_.clear();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot be read as an archive: not a regular file";
        return false;
    }
    fileSize_ = static_cast<std::uint64_t>(st.st_size);
    auto readError = [&] {
        error = errno != 0 ? std::string("cannot be read: ") + std::strerror(errno)
                           : Damaged("shorter than it claims");
        return false;
    };

    // The end record is the last thing in the file, but for a comment.
    const std::size_t tail =
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize_, kEndBytes + kMaxComment));
    std::vector<unsigned char> end(tail);
    if (!ReadAt(fileSize_ - tail, end.data(), tail)) {
        return readError();
    }
    std::size_t at = tail;
    bool found = false;
    while (at > 0 && !found) {
        --at;
        found =
            at + kEndBytes <= tail && U32(&end[at]) == kEnd && at + kEndBytes + U16(&end[at + 20]) <= tail;
    }
    if (!found) {
        error = Damaged("not a whole zip archive (its directory's end record is missing: cut short?)");
        return false;
    }
    const std::uint64_t endOffset = fileSize_ - tail + at;
    const unsigned char* e = &end[at];
    std::uint64_t count = U16(e + 10), directoryBytes = U32(e + 12);
    directoryOffset_ = U32(e + 16);
    if (U16(e + 4) != 0 || U16(e + 6) != 0 || U16(e + 8) != U16(e + 10)) {
        error = Damaged("an archive split over several disks");
        return false;
    }
    std::uint64_t directoryEnd = endOffset;
    if (count == 0xFFFF || directoryBytes == 0xFFFFFFFF || directoryOffset_ == 0xFFFFFFFF) {
        unsigned char locator[kLocatorBytes], end64[kEnd64Bytes];
        if (endOffset < kLocatorBytes || !ReadAt(endOffset - kLocatorBytes, locator, sizeof locator) ||
            U32(locator) != kEnd64Locator) {
            error = Damaged("its directory's 64-bit end record is missing");
            return false;
        }
        const std::uint64_t end64Offset = U64(locator + 8);
        if (end64Offset > endOffset - kLocatorBytes - kEnd64Bytes ||
            !ReadAt(end64Offset, end64, sizeof end64) || U32(end64) != kEnd64) {
            error = Damaged("its directory's 64-bit end record is not where it says");
            return false;
        }
        count = U64(end64 + 32);
        directoryBytes = U64(end64 + 40);
        directoryOffset_ = U64(end64 + 48);
        directoryEnd = end64Offset;
    }
    if (count > kMaxEntries) {
        error = Damaged("claims " + std::to_string(count) + " entries, more than a session holds");
        return false;
    }
    if (directoryOffset_ > directoryEnd || directoryBytes != directoryEnd - directoryOffset_ ||
        directoryBytes > kMaxDirectoryBytes) {
        error = Damaged("its directory is not where its end record says");
        return false;
    }
    std::vector<unsigned char> directory(static_cast<std::size_t>(directoryBytes));
    if (!ReadAt(directoryOffset_, directory.data(), directory.size())) {
        return readError();
    }
    std::size_t p = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (p + kDirectoryHeaderBytes > directory.size() || U32(&directory[p]) != kDirectoryHeader) {
            error = Damaged("its directory ends before its " + std::to_string(count) + " entries");
            return false;
        }
        const unsigned char* h = &directory[p];
        const std::size_t nameBytes = U16(h + 28), extraBytes = U16(h + 30), commentBytes = U16(h + 32);
        if (p + kDirectoryHeaderBytes + nameBytes + extraBytes + commentBytes > directory.size()) {
            error = Damaged("an entry of its directory runs past the directory's end");
            return false;
        }
        ZipEntry entry;
        entry.flags = U16(h + 8);
        entry.method = U16(h + 10);
        entry.crc = U32(h + 16);
        entry.packedSize = U32(h + 20);
        entry.size = U32(h + 24);
        entry.headerOffset = U32(h + 42);
        entry.name.assign(reinterpret_cast<const char*>(h + kDirectoryHeaderBytes), nameBytes);
        if (!ApplyZip64(h + kDirectoryHeaderBytes + nameBytes, extraBytes, entry, entry.size == 0xFFFFFFFF,
                        entry.packedSize == 0xFFFFFFFF, entry.headerOffset == 0xFFFFFFFF)) {
            error = Damaged("entry " + Shown(entry.name) + " has a broken 64-bit size field");
            return false;
        }
        entries_.push_back(std::move(entry));
        p += kDirectoryHeaderBytes + nameBytes + extraBytes + commentBytes;
    }
    // A name given twice leaves which entry is meant to the order they
    // are looked at: no reading of such an archive can be trusted.
    std::vector<std::string_view> names;
    names.reserve(entries_.size());
    for (const ZipEntry& entry : entries_) {
        names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    if (const auto twice = std::adjacent_find(names.begin(), names.end()); twice != names.end()) {
        error = Damaged("it holds " + Shown(*twice) + " twice");
        return false;
    }
    dataOffsets_.assign(entries_.size(), 0);
    return true;
}

const ZipEntry* ZipArchive::Find(std::string_view name) const {
    for (const ZipEntry& e : entries_) {
        if (e.name == name) {
            return &e;
        }
    }
    return nullptr;
}

bool ZipArchive::Locate(std::vector<const ZipEntry*> entries, std::string& error) {
    std::sort(entries.begin(), entries.end(),
              [](const ZipEntry* a, const ZipEntry* b) { return a->headerOffset < b->headerOffset; });
    std::uint64_t free = 0;  // where the last entry's data ended
    for (const ZipEntry* entry : entries) {
        const ZipEntry& e = *entry;
        const std::string name = Shown(e.name);
        unsigned char h[kLocalHeaderBytes];
        if (e.headerOffset < free) {
            error = Damaged("entry " + name + " overlaps another");
            return false;
        }
        if (e.headerOffset > directoryOffset_ || directoryOffset_ - e.headerOffset < kLocalHeaderBytes ||
            !ReadAt(e.headerOffset, h, sizeof h) || U32(h) != kLocalHeader) {
            error = Damaged("entry " + name + " is not where the directory says");
            return false;
        }
        if (U16(h + 26) != e.name.size()) {
            error = Damaged("entry " + name + "'s header does not match the directory");
            return false;
        }
        if ((e.flags & 1) != 0) {
            error = "entry " + name + " is encrypted";
            return false;
        }
        if (e.method != 0 && e.method != 8) {
            error = "entry " + name + " is compressed in a way this tool does not read (method " +
                    std::to_string(e.method) + ")";
            return false;
        }
        const std::uint64_t dataOffset = e.headerOffset + kLocalHeaderBytes + U16(h + 26) + U16(h + 28);
        if (dataOffset > directoryOffset_ || e.packedSize > directoryOffset_ - dataOffset) {
            error = Damaged("entry " + name + " claims " + std::to_string(e.packedSize) +
                            " bytes, more than the archive holds");
            return false;
        }
        if (e.method == 0 && e.packedSize != e.size) {
            error = Damaged("entry " + name + " is stored in " + std::to_string(e.packedSize) +
                            " bytes but claims " + std::to_string(e.size));
            return false;
        }
        dataOffsets_[IndexOf(e)] = dataOffset;
        free = dataOffset + e.packedSize;
    }
    return true;
}

bool ZipArchive::Read(const ZipEntry& e, const std::function<bool(std::string_view)>& take,
                      std::string& error) {
    const std::string name = Shown(e.name);
    const std::size_t index = IndexOf(e);
    if (index >= entries_.size() || dataOffsets_[index] == 0) {  // no local header is at 0's data
        error = "entry " + name + " was read before its place in the archive was checked";
        return false;
    }
    const std::uint64_t dataOffset = dataOffsets_[index];
    std::vector<unsigned char> in(kPiece), out(e.method == 8 ? kPiece : 0);
    z_stream z{};
    if (e.method == 8 && inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        error = "cannot unpack " + name + ": out of memory";
        return false;
    }
    struct End {
        z_stream* z;
        bool on;
        ~End() {
            if (on) {
                inflateEnd(z);
            }
        }
    } end{&z, e.method == 8};

    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t readBytes = 0, unpacked = 0;
    bool streamEnded = e.method == 0;
    auto hand = [&](const unsigned char* data, std::size_t bytes) {
        crc = crc32_z(crc, data, bytes);
        unpacked += bytes;
        return take({reinterpret_cast<const char*>(data), bytes});
    };
    while (readBytes < e.packedSize) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), e.packedSize - readBytes));
        if (!ReadAt(dataOffset + readBytes, in.data(), want)) {
            error = errno != 0 ? "cannot read " + name + ": " + std::strerror(errno)
                               : Damaged(name + " is cut short");
            return false;
        }
        readBytes += want;
        if (e.method == 0) {
            if (!hand(in.data(), want)) {
                return false;
            }
            continue;
        }
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(want);
        while (!streamEnded) {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int status = inflate(&z, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                error = Damaged(name + " is not valid compressed data");
                return false;
            }
            const std::size_t produced = out.size() - z.avail_out;
            if (unpacked + produced > e.size) {
                error = Damaged(name + " unpacks to more than the " + std::to_string(e.size) +
                                " bytes it claims");
                return false;
            }
            if (produced > 0 && !hand(out.data(), produced)) {
                return false;
            }
            streamEnded = status == Z_STREAM_END;
            if ((z.avail_in == 0 && z.avail_out != 0) || (status == Z_BUF_ERROR && produced == 0)) {
                break;  // wants more input
            }
        }
        if (streamEnded && (z.avail_in > 0 || readBytes < e.packedSize)) {
            error = Damaged(name + "'s compressed data ends before its " + std::to_string(e.packedSize) +
                            " bytes");
            return false;
        }
    }
    if (!streamEnded || unpacked != e.size) {
        error = Damaged(name + " unpacks to " + std::to_string(unpacked) + " bytes, not the " +
                        std::to_string(e.size) + " it claims (cut short?)");
        return false;
    }
    if (crc != e.crc) {
        error = Damaged(name + " fails its checksum");
        return false;
    }
    return true;
}

}  // namespace check
