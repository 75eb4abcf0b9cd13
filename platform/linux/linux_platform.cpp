#include "platform/linux/linux_platform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "platform/text_output.h"

namespace linux_mem {
namespace {

constexpr std::uint32_t kPageSize = 0x1000;
constexpr std::size_t kMaxRegions = 16;

struct Reservation {
    std::uintptr_t base;
    std::uint32_t size;
};

const char* g_devicePath = "/dev/mem";
Reservation g_regions[kMaxRegions];
std::size_t g_regionCount = 0;

Reservation* Find(std::uintptr_t address, std::uint32_t size) {
    for (std::size_t i = 0; i < g_regionCount; ++i) {
        Reservation& r = g_regions[i];
        if (address >= r.base && address - r.base < r.size && size <= r.size - (address - r.base)) {
            return &r;
        }
    }
    return nullptr;
}

void Complain(const char* what) {
    std::string line =
        std::string("varkel: ") + what + " " + g_devicePath + ": " + std::strerror(errno) + "\n";
    platform::WriteChannel(platform::Channel::Debug, line);
}

}  // namespace

void SetDevicePathForTesting(const char* path) {
    g_devicePath = path;
}

}  // namespace linux_mem

using linux_mem::g_regionCount;
using linux_mem::g_regions;

void* ReserveRegion(void* address, std::uint32_t size, std::uint32_t allocationType, std::uint32_t protect) {
    if (address != nullptr || size == 0 || size % linux_mem::kPageSize != 0 ||
        (allocationType & kMemReserve) == 0 || protect != kPageNoAccess ||
        g_regionCount == linux_mem::kMaxRegions) {
        return nullptr;
    }
    void* base = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) {
        return nullptr;
    }
    g_regions[g_regionCount++] = {reinterpret_cast<std::uintptr_t>(base), size};
    return base;
}

int VirtualCopy(void* base, std::uint32_t physicalDiv256, std::uint32_t size, std::uint32_t protect) {
    const auto address = reinterpret_cast<std::uintptr_t>(base);
    const off_t physical = static_cast<off_t>(static_cast<std::uint64_t>(physicalDiv256) << 8);
    if (linux_mem::Find(address, size) == nullptr || size == 0 || address % linux_mem::kPageSize != 0 ||
        size % linux_mem::kPageSize != 0 || physical % linux_mem::kPageSize != 0 ||
        protect != (kPagePhysical | kPageNoCache | kPageReadWrite) ||
        ::sysconf(_SC_PAGESIZE) != static_cast<long>(linux_mem::kPageSize)) {
        return 0;
    }
    // O_SYNC makes the kernel map the registers uncached.
    const int fd = ::open(linux_mem::g_devicePath, O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        linux_mem::Complain("cannot open");
        return 0;
    }
    void* mapped = ::mmap(base, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, physical);
    const int mapErrno = errno;
    ::close(fd);
    if (mapped == MAP_FAILED) {
        errno = mapErrno;
        linux_mem::Complain("cannot map");
        // Keep the range reserved so that it can still be given back whole.
        ::mmap(base, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
        return 0;
    }
    return 1;
}

int ReleaseRegion(void* address, std::uint32_t size, std::uint32_t freeType) {
    const auto base = reinterpret_cast<std::uintptr_t>(address);
    if (size != 0 || freeType != kMemRelease) {
        return 0;
    }
    for (std::size_t i = 0; i < g_regionCount; ++i) {
        if (g_regions[i].base == base) {
            ::munmap(address, g_regions[i].size);
            g_regions[i] = g_regions[--g_regionCount];
            return 1;
        }
    }
    return 0;
}

void DebugPrint(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    platform::PrintWide(platform::Channel::Debug, format, args);
    va_end(args);
}

int ConsolePrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string& text = platform::PrintNarrow(platform::Channel::Console, format, args);
    va_end(args);
    return static_cast<int>(text.size());
}

void* CopyBytes(void* destination, const void* source, std::size_t count) {
    return count == 0 ? destination : std::memcpy(destination, source, count);
}

void SleepMs(std::uint32_t milliseconds) {
    platform::FlushChannels();  // the person at the board sees each line as it happens
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
