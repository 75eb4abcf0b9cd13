// The zip archive that holds a sigrok session, read without trusting it:
// every offset, size and count it claims is checked against the file
// before it is used, and every entry's contents against its checksum.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct libdeflate_decompressor;

namespace varkel_check {

struct ZipEntry {
    std::string name;
    std::uint16_t method = 0;  // 0 stored, 8 deflated
    std::uint16_t flags = 0;
    std::uint32_t crc = 0;
    std::uint64_t packedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t headerOffset = 0;  // its local header
};

class ZipArchive {
  public:
    // At most this many entries are listed: sigrok-cli writes one for each
    // packet, so a session of 8 G samples in 4 KiB packets has this many.
    static constexpr std::size_t kMaxEntries = 2000000;
    // An entry is unpacked whole; a session's are a packet to a few MiB.
    static constexpr std::uint64_t kMaxEntryBytes = 256u << 20;

    ZipArchive() = default;
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Reads the central directory of the archive open on `fd`. False,
    // with `error` saying what is wrong ("damaged: ..."), when it is not
    // a whole, readable zip archive.
    bool Open(int fd, std::string& error);
    const std::vector<ZipEntry>& entries() const { return entries_; }
    const ZipEntry* Find(std::string_view name) const;

    // Checks where `entries` lie: each inside the archive, before its
    // directory, overlapping no other (an archive whose entries share
    // their data is built to unpack far more than it holds).
    bool Locate(std::vector<const ZipEntry*> entries, std::string& error);

    // Unpacks `entry` (located) and checks it whole, then hands its
    // contents to `take` a piece at a time; false from `take` stops the
    // reading (`error` left empty). False, with `error`, when the contents
    // are not whole (a size other than the directory says, or a checksum
    // that fails) or larger than kMaxEntryBytes.
    bool Read(const ZipEntry& entry, const std::function<bool(std::string_view)>& take, std::string& error);

  private:
    bool ReadAt(std::uint64_t offset, void* into, std::size_t bytes) const;
    // The entry's place in entries_, or entries_.size() for one that is not ours.
    std::size_t IndexOf(const ZipEntry& entry) const {
        const std::less<const ZipEntry*> before;
        const ZipEntry* first = entries_.data();
        return before(&entry, first) || !before(&entry, first + entries_.size())
                   ? entries_.size()
                   : static_cast<std::size_t>(&entry - first);
    }

    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    std::uint64_t directoryOffset_ = 0;
    std::vector<ZipEntry> entries_;
    std::vector<std::uint64_t> dataOffsets_;  // by entry; known once Locate() has read its header, else 0
    std::vector<unsigned char> packed_, unpacked_;  // kept across entries, grown to the largest
    libdeflate_decompressor* inflater_ = nullptr;
};

}  // namespace varkel_check
