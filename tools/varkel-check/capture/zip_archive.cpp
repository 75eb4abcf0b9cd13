#include "tools/varkel-check/capture/zip_archive.h"

#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/escape.h"

namespace varkel_check {
namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50, kDirectoryHeader = 0x02014b50, kEnd = 0x06054b50,
                        kEnd64 = 0x06064b50, kEnd64Locator = 0x07064b50;
constexpr std::size_t kEndBytes = 22, kEnd64Bytes = 56, kLocatorBytes = 20, kDirectoryHeaderBytes = 46,
                      kLocalHeaderBytes = 30;
constexpr std::size_t kMaxComment = 0xFFFF;
constexpr std::uint64_t kMaxDirectoryBytes = 256u << 20;  // beyond kMaxEntries' worth of short names
constexpr std::size_t kPiece = 256 << 10;
constexpr std::size_t kShownName = 64;

// Reads a record's little-endian fields in order, as the format's tables
// list them. Reading past the record's end gives zeros and marks it short:
// callers check the bytes are there before they trust a record.
class Cursor {
  public:
    Cursor(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    std::uint16_t U16() { return static_cast<std::uint16_t>(Take(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Take(4)); }
    std::uint64_t U64() { return Take(8); }
    void Skip(std::size_t bytes) { at_ = bytes > size_ - std::min(at_, size_) ? size_ + 1 : at_ + bytes; }
    // The next `bytes` as they stand, and past them.
    std::string_view Bytes(std::size_t bytes) {
        const std::size_t from = std::min(at_, size_);
        Skip(bytes);
        return at_ > size_ ? std::string_view{}
                           : std::string_view(reinterpret_cast<const char*>(data_ + from), bytes);
    }
    bool whole() const { return at_ <= size_; }
    std::size_t used() const { return at_; }

  private:
    std::uint64_t Take(std::size_t bytes) {
        std::uint64_t value = 0;
        if (at_ + bytes <= size_) {
            for (std::size_t i = bytes; i-- > 0;) {
                value = value << 8 | data_[at_ + i];
            }
        }
        at_ += bytes;
        return value;
    }

    const unsigned char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

std::string Damaged(const std::string& what) {
    return "damaged: " + what;
}

std::string Shown(std::string_view name) {
    return common::Escaped(name, kShownName);
}

// Replaces the 32-bit sizes and offset that a zip64 extra field stands in
// for, in the order the format gives them.
bool ApplyZip64(std::string_view extra, ZipEntry& e, bool wideSize, bool widePacked, bool wideOffset) {
    Cursor fields(reinterpret_cast<const unsigned char*>(extra.data()), extra.size());
    while (fields.used() + 4 <= extra.size()) {
        const std::uint16_t id = fields.U16(), length = fields.U16();
        const std::string_view body = fields.Bytes(length);
        if (!fields.whole()) {
            return false;
        }
        if (id == 0x0001) {
            Cursor wide(reinterpret_cast<const unsigned char*>(body.data()), body.size());
            for (auto [isWide, into] : {std::pair{wideSize, &e.size}, std::pair{widePacked, &e.packedSize},
                                        std::pair{wideOffset, &e.headerOffset}}) {
                if (isWide) {
                    *into = wide.U64();
                }
            }
            return wide.whole();
        }
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
    // The end record: signature, this disk, the directory's disk, entries
    // on this disk, entries in all, the directory's size and offset, and
    // the comment's length, which must end the file.
    std::size_t at = tail;
    bool found = false;
    std::uint16_t disk = 0, directoryDisk = 0, diskEntries = 0, entries = 0;
    std::uint64_t count = 0, directoryBytes = 0;
    while (at > 0 && !found) {
        --at;
        Cursor record(&end[at], tail - at);
        if (record.U32() != kEnd) {
            continue;
        }
        disk = record.U16();
        directoryDisk = record.U16();
        diskEntries = record.U16();
        entries = record.U16();
        directoryBytes = record.U32();
        directoryOffset_ = record.U32();
        const std::uint16_t commentBytes = record.U16();
        record.Skip(commentBytes);
        found = record.whole();
    }
    if (!found) {
        error = Damaged("not a whole zip archive (its directory's end record is missing: cut short?)");
        return false;
    }
    const std::uint64_t endOffset = fileSize_ - tail + at;
    count = entries;
    if (disk != 0 || directoryDisk != 0 || diskEntries != entries) {
        error = Damaged("an archive split over several disks");
        return false;
    }
    std::uint64_t directoryEnd = endOffset;
    if (count == 0xFFFF || directoryBytes == 0xFFFFFFFF || directoryOffset_ == 0xFFFFFFFF) {
        // The 64-bit locator (signature, the disk, the record's offset, the
        // disks), then the 64-bit end record it points to.
        unsigned char locatorBytes[kLocatorBytes], end64Bytes[kEnd64Bytes];
        Cursor locator(locatorBytes, sizeof locatorBytes);
        if (endOffset < kLocatorBytes ||
            !ReadAt(endOffset - kLocatorBytes, locatorBytes, sizeof locatorBytes) ||
            locator.U32() != kEnd64Locator) {
            error = Damaged("its directory's 64-bit end record is missing");
            return false;
        }
        locator.Skip(4);  // the disk with the record
        const std::uint64_t end64Offset = locator.U64();
        Cursor end64(end64Bytes, sizeof end64Bytes);
        if (end64Offset > endOffset - kLocatorBytes - kEnd64Bytes ||
            !ReadAt(end64Offset, end64Bytes, sizeof end64Bytes) || end64.U32() != kEnd64) {
            error = Damaged("its directory's 64-bit end record is not where it says");
            return false;
        }
        end64.Skip(8 + 2 + 2 + 4 + 4 + 8);  // its size, versions, disks, entries on this disk
        count = end64.U64();
        directoryBytes = end64.U64();
        directoryOffset_ = end64.U64();
        directoryEnd = end64Offset;
    }
    if (count > kMaxEntries) {
        error = "holds " + std::to_string(count) + " entries, more than this tool reads (" +
                std::to_string(kMaxEntries) + ")";
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
    // Each directory entry: signature, versions, flags, method, time and
    // date, checksum, sizes, the lengths of name, extra field and comment,
    // disk, attributes, the local header's offset, then those three.
    std::size_t p = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        Cursor h(directory.data() + p, directory.size() - p);
        if (directory.size() - p < kDirectoryHeaderBytes || h.U32() != kDirectoryHeader) {
            error = Damaged("its directory ends before its " + std::to_string(count) + " entries");
            return false;
        }
        ZipEntry entry;
        h.Skip(2 + 2);  // versions: made by, needed
        entry.flags = h.U16();
        entry.method = h.U16();
        h.Skip(2 + 2);  // time, date
        entry.crc = h.U32();
        entry.packedSize = h.U32();
        entry.size = h.U32();
        const std::uint16_t nameBytes = h.U16(), extraBytes = h.U16(), commentBytes = h.U16();
        h.Skip(2 + 2 + 4);  // disk, internal and external attributes
        entry.headerOffset = h.U32();
        const std::string_view name = h.Bytes(nameBytes), extra = h.Bytes(extraBytes);
        h.Skip(commentBytes);
        if (!h.whole()) {
            error = Damaged("an entry of its directory runs past the directory's end");
            return false;
        }
        entry.name.assign(name);
        if (!ApplyZip64(extra, entry, entry.size == 0xFFFFFFFF, entry.packedSize == 0xFFFFFFFF,
                        entry.headerOffset == 0xFFFFFFFF)) {
            error = Damaged("entry " + Shown(entry.name) + " has a broken 64-bit size field");
            return false;
        }
        entries_.push_back(std::move(entry));
        p += h.used();
    }
    // Entries past the count claimed would be left unread: a count cut to
    // 16 bits, or a directory changed after it was written.
    if (p != directory.size()) {
        error = Damaged("its directory holds more than the " + std::to_string(count) + " entries it claims");
        return false;
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
        unsigned char headerBytes[kLocalHeaderBytes];
        if (e.headerOffset < free) {
            error = Damaged("entry " + name + " overlaps another");
            return false;
        }
        // The local header: signature, version, flags, method, time, date,
        // checksum, sizes, the lengths of name and extra field.
        Cursor h(headerBytes, sizeof headerBytes);
        if (e.headerOffset > directoryOffset_ || directoryOffset_ - e.headerOffset < kLocalHeaderBytes ||
            !ReadAt(e.headerOffset, headerBytes, sizeof headerBytes) || h.U32() != kLocalHeader) {
            error = Damaged("entry " + name + " is not where the directory says");
            return false;
        }
        h.Skip(2 + 2 + 2 + 2 + 2 + 4 + 4 + 4);
        const std::uint16_t nameBytes = h.U16(), extraBytes = h.U16();
        if (nameBytes != e.name.size()) {
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
        const std::uint64_t dataOffset = e.headerOffset + kLocalHeaderBytes + nameBytes + extraBytes;
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
    // Unpacked whole, into buffers kept across entries: a session holds
    // many, often one per packet the analyser sent.
    if (e.size > kMaxEntryBytes || e.packedSize > kMaxEntryBytes) {
        error = "entry " + name + " holds " + std::to_string(std::max(e.size, e.packedSize)) +
                " bytes, more than this tool unpacks at once (" + std::to_string(kMaxEntryBytes >> 20) +
                " MiB)";
        return false;
    }
    const auto packed = static_cast<std::size_t>(e.packedSize), size = static_cast<std::size_t>(e.size);
    packed_.resize(std::max(packed_.size(), packed));
    if (!ReadAt(dataOffsets_[index], packed_.data(), packed)) {
        error = errno != 0 ? "cannot read " + name + ": " + std::strerror(errno)
                           : Damaged(name + " is cut short");
        return false;
    }
    const unsigned char* data = packed_.data();
    if (e.method == 8) {
        if (inflater_ == nullptr && (inflater_ = libdeflate_alloc_decompressor()) == nullptr) {
            error = "cannot unpack " + name + ": out of memory";
            return false;
        }
        unpacked_.resize(std::max(unpacked_.size(), size));
        std::size_t used = 0, produced = 0;
        switch (libdeflate_deflate_decompress_ex(inflater_, packed_.data(), packed, unpacked_.data(), size,
                                                 &used, &produced)) {
            case LIBDEFLATE_SUCCESS:
                break;
            case LIBDEFLATE_INSUFFICIENT_SPACE:
                error = Damaged(name + " unpacks to more than the " + std::to_string(e.size) +
                                " bytes it claims");
                return false;
            default:  // bad data, or a stream that ends before its last block
                error = Damaged(name + " is not valid compressed data");
                return false;
        }
        if (used != packed) {
            error = Damaged(name + "'s compressed data ends before its " + std::to_string(e.packedSize) +
                            " bytes");
            return false;
        }
        if (produced != size) {
            error = Damaged(name + " unpacks to " + std::to_string(produced) + " bytes, not the " +
                            std::to_string(e.size) + " it claims (cut short?)");
            return false;
        }
        data = unpacked_.data();
    } else if (packed != size) {
        error = Damaged(name + " unpacks to " + std::to_string(e.packedSize) + " bytes, not the " +
                        std::to_string(e.size) + " it claims (cut short?)");
        return false;
    }
    // The checksum before any of it is used: a damaged entry gives nothing.
    if (libdeflate_crc32(0, data, size) != e.crc) {
        error = Damaged(name + " fails its checksum");
        return false;
    }
    for (std::size_t at = 0; at < size; at += kPiece) {
        if (!take({reinterpret_cast<const char*>(data + at), std::min(kPiece, size - at)})) {
            return false;
        }
    }
    return true;
}

ZipArchive::~ZipArchive() {
    if (inflater_ != nullptr) {
        libdeflate_free_decompressor(inflater_);
    }
}

}  // namespace varkel_check
