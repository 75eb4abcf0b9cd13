// The board binary's backend, on files standing in for /dev/mem, and the
// board binary's own command line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/sequence.h"
#include "hw/map_physical.h"
#include "hw/reg_io.h"
#include "platform/channels.h"
#include "platform/devmem/devmem_platform.h"
#include "platform/platform.h"

namespace {

class LinuxBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::snprintf(path_, sizeof path_, "/tmp/varkel-mem-XXXXXX");
        fd_ = ::mkstemp(path_);
        ASSERT_GE(fd_, 0);
        // Large enough to hold every block's physical address; sparse, so free.
        ASSERT_EQ(::ftruncate(fd_, 0x42000000), 0);
        platform::devmem::SetDevicePathForTesting(path_);
        platform::CaptureChannel(platform::Channel::Debug, &debug_);
        platform::CaptureChannel(platform::Channel::Console, &console_);
    }
    void TearDown() override {
        platform::ResetChannels();
        platform::devmem::SetDevicePathForTesting("/dev/mem");
        ::close(fd_);
        ::unlink(path_);
    }

    std::uint32_t FileWord(std::uint64_t physical) const {
        std::uint32_t value = 0;
        EXPECT_EQ(::pread(fd_, &value, 4, static_cast<off_t>(physical)), 4);
        return value;
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

TEST_F(LinuxBackendTest, AccessesLandAtTheirPhysicalAddressesAndReleaseGivesEveryPageBack) {
    RegisterWindow ssp = MapPhysicalAddr(0x41900000, 0x14);
    RegisterWindow offset = MapPhysicalAddr(0x41300004, 8);
    RegisterWindow straddle = MapPhysicalAddr(0x41900FF0, 0x20);
    ASSERT_NE(ssp, nullptr);
    ASSERT_NE(offset, nullptr);
    ASSERT_NE(straddle, nullptr);
    RegWrite(ssp, 0x10, 0xCAFEF00D);
    RegWrite(offset, 0, 0x11111111);
    RegWrite(straddle, 0x0C, 0x22222222);
    RegWrite(straddle, 0x10, 0x33333333);
    EXPECT_EQ(FileWord(0x41900010), 0xCAFEF00Du);
    EXPECT_EQ(FileWord(0x41300004), 0x11111111u);
    EXPECT_EQ(FileWord(0x41900FFC), 0x22222222u);
    EXPECT_EQ(FileWord(0x41901000), 0x33333333u);
    EXPECT_EQ(RegRead(ssp, 0x10), 0xCAFEF00Du);
    for (RegisterWindow window : {ssp, offset, straddle}) {
        ReleasePhysicalAddr(window);
        EXPECT_FALSE(Mapped(window));
    }
    EXPECT_FALSE(Mapped(straddle + 0x10));
    EXPECT_TRUE(debug_.empty());
}

TEST_F(LinuxBackendTest, ReservationsFollowTheSameRulesAsOnTheSimulatedBoard) {
    void* base = ReserveRegion(nullptr, 0x2000, kMemReserve, kPageNoAccess);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(VirtualCopy(base, 0x41900000 >> 8, 0x2000, 0x204), 0);  // cached: refused
    EXPECT_EQ(VirtualCopy(base, 0x41900100 >> 8, 0x1000, 0x604), 0);  // not a page
    EXPECT_EQ(ReleaseRegion(static_cast<char*>(base) + 0x1000, 0, kMemRelease), 0);
    EXPECT_EQ(ReleaseRegion(base, 0x2000, kMemRelease), 0);
    EXPECT_EQ(ReleaseRegion(base, 0, kMemRelease), 1);
    EXPECT_EQ(ReleaseRegion(base, 0, kMemRelease), 0);
    EXPECT_EQ(ReserveRegion(nullptr, 0x1001, kMemReserve, kPageNoAccess), nullptr);
    EXPECT_EQ(ReserveRegion(nullptr, 0, kMemReserve, kPageNoAccess), nullptr);
}

TEST_F(LinuxBackendTest, RefusedMemoryDeviceSaysWhyThenTheProgramStops) {
    platform::devmem::SetDevicePathForTesting("/nonexistent/varkel-mem");
    EXPECT_EQ(PortTestMain(nullptr, nullptr, nullptr, 0), 1);
    const std::string expectedTail =
        "varkel: cannot open /nonexistent/varkel-mem for 0x40E00000: No such file or directory\n"
        "\tMapPhysicalAddr : return false from VirtualCopy(). \r\n"
        " Error 'cause GpioRegPtr == NULL \r\n";
    ASSERT_GE(debug_.size(), expectedTail.size());
    EXPECT_EQ(debug_.substr(debug_.size() - expectedTail.size()), expectedTail);
    EXPECT_EQ(console_, "hit c to contine \n");
    void* base = ReserveRegion(nullptr, 0x1000, kMemReserve, kPageNoAccess);  // nothing was left reserved
    EXPECT_EQ(ReleaseRegion(base, 0, kMemRelease), 1);
}

TEST_F(LinuxBackendTest, BlockTheKernelKeepsForADriverIsNamedAsSuch) {
    // A memory file sealed against writing refuses a shared writable map
    // with EPERM, as the kernel does for I/O memory a driver has claimed.
    const int sealed = ::memfd_create("varkel-sealed", MFD_ALLOW_SEALING);
    ASSERT_GE(sealed, 0);
    ASSERT_EQ(::ftruncate(sealed, 0x42000000), 0);
    ASSERT_EQ(::fcntl(sealed, F_ADD_SEALS, F_SEAL_WRITE), 0);
    const std::string path = "/proc/self/fd/" + std::to_string(sealed);
    platform::devmem::SetDevicePathForTesting(path.c_str());
    EXPECT_EQ(MapPhysicalAddr(0x41900000, 0x14), nullptr);
    EXPECT_EQ(debug_,
              "varkel: cannot map " + path +
                  " for 0x41900000: Operation not permitted (the kernel keeps this block for the driver "
                  "that owns it: unbind that driver, or boot with iomem=relaxed)\n"
                  "\tMapPhysicalAddr : return false from VirtualCopy(). \r\n");
    ::close(sealed);
}

std::string Capture(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    status = WEXITSTATUS(::pclose(pipe));
    return output;
}

// The board binary answers --help and --version, and refuses anything
// else (a loopback test's count out of range too), without going near
// /dev/mem. It runs in a mount namespace of its
// own where /dev/mem is an empty file, so even a fault here cannot reach
// the machine's memory.
TEST(BoardBinary, AnswersWithoutOpeningAFileOrTouchingARegister) {
    const std::string emulator = VARKEL_EMULATOR;
    const bool strace = emulator.empty() && std::system("command -v strace >/dev/null 2>&1") == 0;
    if (std::system("unshare -m true 2>/dev/null") != 0 || (emulator.empty() && !strace)) {
        GTEST_SKIP() << "needs unshare -m (root) and, on the host, strace";
    }
    const std::string traced = emulator.empty()
                                   ? "strace -f -e trace=open,openat,mmap " + std::string(VARKEL_BOARD_BINARY)
                                   : emulator + " -strace " + VARKEL_BOARD_BINARY;
    auto run = [&](const std::string& args, int& status) {
        // The leak checker cannot run under a tracer.
        return Capture(
            "unshare -m sh -c 'mount -t tmpfs none /dev && : >/dev/mem && mknod /dev/full c 1 7 && "
            "ASAN_OPTIONS=detect_leaks=0 exec " +
                traced + " " + args + "'",
            status);
    };
    int status = 0;
    std::string out = run("--help", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Usage: varkel\n"), std::string::npos);
    out = run("-h", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("  -h, --help  this text\n"), std::string::npos);
    out = run("--version", status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("varkel " VARKEL_VERSION "\n"), std::string::npos);
    // What was asked for, not written, is a failure.
    for (const char* asked : {"--help", "--version"}) {
        out = run(std::string(asked) + " >/dev/full", status);
        EXPECT_EQ(status, 5) << asked;
        EXPECT_NE(out.find("varkel: cannot write standard output: No space left on device\n"),
                  std::string::npos)
            << out;
    }
    // An argument too long for one line is cut, never shown as a format.
    out = run("--" + std::string(70000, 'a'), status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(out.find("varkel: unexpected argument '--" + std::string(62, 'a') +
                       "... (70002 bytes)' (see --help)\n"),
              std::string::npos);
    EXPECT_EQ(out.find("%hs"), std::string::npos);
    out = run("--now", status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(out.find("varkel: unexpected argument '--now' (see --help)\n"), std::string::npos);
    EXPECT_EQ(out.find("/dev/mem"), std::string::npos) << out;
    for (const char* count : {"0", "10001", "3x", "-1"}) {
        out = run(std::string("--loopback-test ") + count, status);
        EXPECT_EQ(status, 2);
        EXPECT_NE(out.find("varkel: --loopback-test takes a number of messages from 1 to 10000, not '" +
                           std::string(count) + "'\n"),
                  std::string::npos)
            << out;
        EXPECT_EQ(out.find("/dev/mem"), std::string::npos) << out;
    }
}

}  // namespace
