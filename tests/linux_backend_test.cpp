// The Linux backend's mapping, on a sparse file standing in for /dev/mem.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/port_test.h"
#include "hw/map_physical.h"
#include "hw/reg_io.h"
#include "platform/linux/linux_platform.h"
#include "platform/platform.h"
#include "platform/text_output.h"

namespace {

class LinuxBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::snprintf(path_, sizeof path_, "/tmp/varkel-mem-XXXXXX");
        fd_ = ::mkstemp(path_);
        ASSERT_GE(fd_, 0);
        // Large enough to hold every block's physical address; sparse, so free.
        ASSERT_EQ(::ftruncate(fd_, 0x42000000), 0);
        linux_mem::SetDevicePathForTesting(path_);
        platform::CaptureChannel(platform::Channel::Debug, &debug_);
        platform::CaptureChannel(platform::Channel::Console, &console_);
    }
    void TearDown() override {
        platform::ResetChannels();
        linux_mem::SetDevicePathForTesting("/dev/mem");
        ::close(fd_);
        ::unlink(path_);
    }

    std::uint32_t FileWord(std::uint64_t physical) const {
        std::uint32_t value = 0;
        EXPECT_EQ(::pread(fd_, &value, 4, static_cast<off_t>(physical)), 4);
        return value;
    }
    void SetFileWord(std::uint64_t physical, std::uint32_t value) const {
        EXPECT_EQ(::pwrite(fd_, &value, 4, static_cast<off_t>(physical)), 4);
    }
    static bool Mapped(const volatile void* address) {
        unsigned char resident = 0;
        const auto page = reinterpret_cast<std::uintptr_t>(address) & ~std::uintptr_t{0xFFF};
        return ::mincore(reinterpret_cast<void*>(page), 0x1000, &resident) == 0;
    }

    char path_[64];
    int fd_ = -1;
    std::string debug_;
    std::string console_;
};

TEST_F(LinuxBackendTest, StoreThroughAWindowLandsAtItsPhysicalAddress) {
    RegisterWindow ssp = MapPhysicalAddr(0x41900000, 0x14);
    ASSERT_NE(ssp, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(ssp) % 0x1000, 0u);
    RegWrite(ssp, 0x10, 0xCAFEF00D);
    EXPECT_EQ(FileWord(0x41900010), 0xCAFEF00Du);
    SetFileWord(0x41900008, 0x00000004);
    EXPECT_EQ(RegRead(ssp, 0x08), 0x00000004u);
    ReleasePhysicalAddr(ssp);
    EXPECT_FALSE(Mapped(ssp));
    EXPECT_TRUE(debug_.empty());
}

TEST_F(LinuxBackendTest, OffsetAndStraddlingWindowsReachTheRightWords) {
    RegisterWindow offset = MapPhysicalAddr(0x41300004, 8);
    ASSERT_NE(offset, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(offset) % 0x1000, 4u);
    RegWrite(offset, 0, 0x11111111);
    EXPECT_EQ(FileWord(0x41300004), 0x11111111u);

    RegisterWindow straddle = MapPhysicalAddr(0x41900FF0, 0x20);
    ASSERT_NE(straddle, nullptr);
    RegWrite(straddle, 0x0C, 0x22222222);
    RegWrite(straddle, 0x10, 0x33333333);
    EXPECT_EQ(FileWord(0x41900FFC), 0x22222222u);
    EXPECT_EQ(FileWord(0x41901000), 0x33333333u);

    // The page base is given back, so the whole range goes, both pages too.
    ReleasePhysicalAddr(offset);
    ReleasePhysicalAddr(straddle);
    EXPECT_FALSE(Mapped(offset));
    EXPECT_FALSE(Mapped(straddle));
    EXPECT_FALSE(Mapped(straddle + 0x10));
}

TEST_F(LinuxBackendTest, ReleaseTakesOnlyAReservedBase) {
    void* base = ReserveRegion(nullptr, 0x2000, kMemReserve, kPageNoAccess);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(ReleaseRegion(static_cast<char*>(base) + 0x1000, 0, kMemRelease), 0);
    EXPECT_EQ(ReleaseRegion(base, 0x2000, kMemRelease), 0);
    EXPECT_EQ(ReleaseRegion(base, 0, kMemRelease), 1);
    EXPECT_EQ(ReleaseRegion(base, 0, kMemRelease), 0);
    EXPECT_EQ(ReserveRegion(nullptr, 0x1001, kMemReserve, kPageNoAccess), nullptr);
    EXPECT_EQ(ReserveRegion(nullptr, 0, kMemReserve, kPageNoAccess), nullptr);
}

TEST_F(LinuxBackendTest, UnopenableMemoryDeviceIsARefusedBinding) {
    linux_mem::SetDevicePathForTesting("/nonexistent/varkel-mem");
    EXPECT_EQ(PortTestMain(nullptr, nullptr, nullptr, 0), 1);
    const std::string expectedTail =
        "varkel: cannot open /nonexistent/varkel-mem: No such file or directory\n"
        "\tMapPhysicalAddr : return false from VirtualCopy(). \r\n"
        " Error 'cause GpioRegPtr == NULL \r\n";
    ASSERT_GE(debug_.size(), expectedTail.size());
    EXPECT_EQ(debug_.substr(debug_.size() - expectedTail.size()), expectedTail);
    EXPECT_EQ(console_, "hit c to contine \n");
    // Nothing is left reserved: a fresh reservation can be released, and
    // the failed one cannot.
    void* base = ReserveRegion(nullptr, 0x1000, kMemReserve, kPageNoAccess);
    EXPECT_EQ(ReleaseRegion(base, 0, kMemRelease), 1);
}

}  // namespace
