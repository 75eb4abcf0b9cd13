// The capture readers in memory: what reaches the decoder from a value
// change dump and from a sigrok session, change by change.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/varkel-check/capture.h"

namespace {

using check::Line;

struct Recorder : check::CaptureSink {
    void Change(std::uint64_t tick, Line line, char level) override {
        const char name = line == Line::Sclk ? 'c' : line == Line::Sfrm ? 's' : 'd';
        changes.push_back(std::to_string(tick) + name + level);
    }
    void End(std::uint64_t tick) override { end = tick; }
    std::vector<std::string> changes;
    std::uint64_t end = 0;
};

// A file in memory holding `bytes`, rewound.
int Memory(const std::string& bytes) {
    const int fd = ::memfd_create("capture", 0);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

bool Read(const std::string& bytes, Recorder& sink, check::CaptureInfo& info, std::string& error,
          const check::LineNames& names = {}) {
    const int fd = Memory(bytes);
    const bool ok = check::ReadCapture(fd, "cap", names, sink, info, nullptr, error);
    ::close(fd);
    return ok;
}

// A zip archive of stored entries, as small sessions are sometimes written.
std::string Zip(const std::vector<std::pair<std::string, std::string>>& entries) {
    auto u16 = [](std::string& s, unsigned v) {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>(v >> 8 & 0xFF);
    };
    auto u32 = [&](std::string& s, std::uint32_t v) {
        u16(s, v & 0xFFFF);
        u16(s, v >> 16);
    };
    std::string body, directory;
    for (const auto& [name, data] : entries) {
        const auto crc = static_cast<std::uint32_t>(
            ::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        const auto offset = static_cast<std::uint32_t>(body.size());
        const auto size = static_cast<std::uint32_t>(data.size());
        u32(body, 0x04034b50);
        u16(body, 10), u16(body, 0), u16(body, 0), u16(body, 0), u16(body, 0);
        u32(body, crc), u32(body, size), u32(body, size);
        u16(body, static_cast<unsigned>(name.size())), u16(body, 0);
        body += name + data;
        u32(directory, 0x02014b50);
        u16(directory, 20), u16(directory, 10), u16(directory, 0), u16(directory, 0), u16(directory, 0),
            u16(directory, 0);
        u32(directory, crc), u32(directory, size), u32(directory, size);
        u16(directory, static_cast<unsigned>(name.size())), u16(directory, 0), u16(directory, 0),
            u16(directory, 0), u16(directory, 0);
        u32(directory, 0), u32(directory, offset);
        directory += name;
    }
    std::string end;
    u32(end, 0x06054b50);
    u16(end, 0), u16(end, 0);
    u16(end, static_cast<unsigned>(entries.size())), u16(end, static_cast<unsigned>(entries.size()));
    u32(end, static_cast<std::uint32_t>(directory.size())), u32(end, static_cast<std::uint32_t>(body.size()));
    u16(end, 0);
    return body + directory + end;
}

TEST(CaptureReader, ADumpGivesEachLinesChangesInTimeOrderAndItsTimeUnit) {
    const std::string vcd =
        "$timescale 10 ns $end $scope module board $end $var wire 1 ! SCLK $end $var wire 1 \" sfrm $end "
        "$var wire 1 # txd $end $var wire 8 $ bus $end $upscope $end $enddefinitions $end\n"
        "#0 0! 1\" x# b1010 $\n#5 0\"\n#7 1# 1!\n#9 0!\n#12\n";
    Recorder sink;
    check::CaptureInfo info;
    std::string error;
    ASSERT_TRUE(Read(vcd, sink, info, error)) << error;
    EXPECT_EQ(sink.changes, (std::vector<std::string>{"0c0", "0s1", "0dx", "5s0", "7d1", "7c1", "9c0"}));
    EXPECT_EQ(sink.end, 12u);
    EXPECT_DOUBLE_EQ(info.secondsPerTick, 10e-9);
    EXPECT_EQ(info.format, "value change dump");
}

TEST(CaptureReader, ASessionGivesItsChannelsByNameAcrossItsLogicEntries) {
    // Channel 1 txd, 2 sclk, 3 sfrm: bits 0, 1, 2 of each sample byte.
    const std::string metadata =
        "[global]\nsigrok version=0.5.2\n[device 1]\ncapturefile=logic-1\ntotal probes=3\n"
        "samplerate=4 MHz\nprobe1=txd\nprobe2=sclk\nprobe3=sfrm\nunitsize=1\n";
    const std::string first = {'\x04', '\x00', '\x01'}, second = {'\x03', '\x03', '\x00'};
    const std::string session =
        Zip({{"version", "2"}, {"metadata", metadata}, {"logic-1-1", first}, {"logic-1-2", second}});
    Recorder sink;
    check::CaptureInfo info;
    std::string error;
    ASSERT_TRUE(Read(session, sink, info, error)) << error;
    EXPECT_EQ(sink.changes,
              (std::vector<std::string>{"0c0", "0s1", "0d0", "1s0", "2d1", "3c1", "5c0", "5d0"}));
    EXPECT_EQ(sink.end, 6u);
    EXPECT_DOUBLE_EQ(info.secondsPerTick, 0.25e-6);

    // A sample changed after its checksum was taken: the read fails, so
    // whatever levels it gave never become a verdict.
    std::string damaged = session;
    damaged[damaged.find(first)] ^= 0x01;
    Recorder spoilt;
    EXPECT_FALSE(Read(damaged, spoilt, info, error));
    EXPECT_NE(error.find("logic-1-1 fails its checksum"), std::string::npos) << error;
}

}  // namespace
